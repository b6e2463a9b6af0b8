#include <norvel/perception/remove_ground_line_fit.hpp>

#include "fast_atan2.hpp"
#include "logger.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace norvel {
namespace perception {

namespace {

constexpr float kPi = 3.14159265358979F;
constexpr float kTwoPi = 6.28318530717959F;
// Residual floor of the noise rule: a line through few, nearly collinear points would otherwise
// call every slightly low candidate noise.
constexpr float kMinNoiseSigma = 0.005F;
// A line's slope is trusted (for prediction, the max_slope test and extension) only once its
// points span this many bins; over shorter spans range noise dominates the slope.
constexpr int kMinSlopeSpanBins = 4;
// A line's slope is carried beyond the farthest floor seen only when the rise over its span is at
// least this many times its RMS residual...
constexpr float kOnwardSlopeResiduals = 4.0F;
// ...and the slope of its far half differs from the whole line's by at most this share of it.
constexpr float kOnwardSlopeAgreement = 0.5F;
// Upper bound on segments x bins, so that absurd settings fail loudly instead of exhausting memory.
constexpr long kMaxBins = 1L << 24;
// Vertical-structure test (see RemoveGroundLineFit): the horizontal cell size, small enough that
// floor a few centimetres from a wall's face keeps out of the wall's neighbourhood (rings often
// meet the floor right at a wall's foot), large enough that a 3 x 3 neighbourhood holds a wall's
// stacked returns despite a centimetre of range noise.
constexpr float kStackCell = 0.03F;
// Height above a cell's lowest point within which its points count as one stack rising from
// there: a wall seen 5 m away by a 2-degree ring spacing still has its next return within it,
// while a chair seat or table top over bare floor lies well above it.
constexpr float kStackReach = 0.25F;
// The test covers points within this horizontal distance of the frame origin (far beyond any
// region of interest the node keeps), so that a stray far point cannot blow up the cell grid.
constexpr float kStackExtent = 20.0F;
// A whole number of cells beyond kStackExtent: shifts cell coordinates positive without moving
// the cell borders.
constexpr float kStackOffset = 1024.0F;
static_assert(kStackOffset > kStackExtent / kStackCell + 1.0F,
              "cell coordinates must stay positive");
// How far above a point a neighbouring stack may start and still stand on the same floor: the
// floor's own noise, but less than the few centimetres at which a ring meets a wall above the
// floor in front of it.
constexpr float kStackFootSlack = 0.015F;
// Horizontal distance within which a neighbouring stack's face (the mean of its rising returns)
// must come for a point to stand at its foot: two and a half times the range noise. The face's
// own low returns lie that close; floor a few centimetres in front of the face does not.
constexpr float kStackFootRadius = 0.025F;
// The same for a point lifted above the floor's noise, which floor in front of a face is not:
// what is left is the face's own spread, and a sparse face's mean lies off by a few centimetres.
constexpr float kLiftedFootRadius = 2.0F * kStackFootRadius;

void requireFinite(const char* name, float value) {
  if (!std::isfinite(value)) {
    throw std::invalid_argument(
        fmt::format("ground removal: {} must be finite, got {}", name, value));
  }
}

void requirePositive(const char* name, float value) {
  if (!(value > 0.0F)) {
    throw std::invalid_argument(fmt::format("ground removal: {} must be > 0, got {}", name, value));
  }
}

void requireNonNegative(const char* name, float value) {
  if (!(value >= 0.0F)) {
    throw std::invalid_argument(
        fmt::format("ground removal: {} must be >= 0, got {}", name, value));
  }
}

void validate(const GroundRemovalParams& p) {
  const float* values = &p.segmentation_angular_resolution;
  static const char* const kNames[] = {"segmentation_angular_resolution",
                                       "point_cloud_max_range",
                                       "point_cloud_min_range",
                                       "segmentation_bin_len",
                                       "cam_height",
                                       "max_lsq_residual",
                                       "min_slope",
                                       "max_slope",
                                       "max_height_diff_for_start_up",
                                       "max_height_diff_for_start_down",
                                       "max_dist_point_groundline",
                                       "long_threshold",
                                       "max_height_diff_for_front",
                                       "x_distance_need_preprocess",
                                       "z_distance_need_remove",
                                       "max_obstacle_height",
                                       "diluting_threshold",
                                       "noise_nsigma"};
  for (int i = 0; i < 18; ++i) {
    requireFinite(kNames[i], values[i]);
  }
  requirePositive("segmentation_angular_resolution", p.segmentation_angular_resolution);
  requirePositive("segmentation_bin_len", p.segmentation_bin_len);
  requireNonNegative("point_cloud_min_range", p.point_cloud_min_range);
  if (!(p.point_cloud_max_range > p.point_cloud_min_range)) {
    throw std::invalid_argument(fmt::format(
        "ground removal: point_cloud_max_range must be > point_cloud_min_range, got {} <= {}",
        p.point_cloud_max_range, p.point_cloud_min_range));
  }
  requireNonNegative("cam_height", p.cam_height);
  requireNonNegative("max_lsq_residual", p.max_lsq_residual);
  requireNonNegative("min_slope", p.min_slope);
  requireNonNegative("max_slope", p.max_slope);
  requireNonNegative("max_height_diff_for_start_up", p.max_height_diff_for_start_up);
  requireNonNegative("max_height_diff_for_start_down", p.max_height_diff_for_start_down);
  requireNonNegative("max_dist_point_groundline", p.max_dist_point_groundline);
  requireNonNegative("long_threshold", p.long_threshold);
  requireNonNegative("max_height_diff_for_front", p.max_height_diff_for_front);
  requireNonNegative("x_distance_need_preprocess", p.x_distance_need_preprocess);
  requireNonNegative("z_distance_need_remove", p.z_distance_need_remove);
  requireNonNegative("diluting_threshold", p.diluting_threshold);
  requireNonNegative("noise_nsigma", p.noise_nsigma);
  const long segments = static_cast<long>(std::ceil(kTwoPi / p.segmentation_angular_resolution));
  const long bins = static_cast<long>(
      std::ceil((p.point_cloud_max_range - p.point_cloud_min_range) / p.segmentation_bin_len));
  if (segments * bins > kMaxBins) {
    throw std::invalid_argument(fmt::format(
        "ground removal: {} segments x {} range bins exceed the limit of {} bins; raise "
        "segmentation_angular_resolution or segmentation_bin_len",
        segments, bins, kMaxBins));
  }
}

// Running least-squares fit of z = a + b * r.
struct LineAccumulator {
  int count{0};
  double sum_r{0.0};
  double sum_z{0.0};
  double sum_rr{0.0};
  double sum_rz{0.0};
  double sum_zz{0.0};
  float first_range{0.0F};
  float last_range{0.0F};
  float last_z{0.0F};

  void add(float r, float z) {
    if (count == 0) {
      first_range = r;
    }
    ++count;
    sum_r += r;
    sum_z += z;
    sum_rr += static_cast<double>(r) * r;
    sum_rz += static_cast<double>(r) * z;
    sum_zz += static_cast<double>(z) * z;
    last_range = r;
    last_z = z;
  }

  float span() const { return last_range - first_range; }
  float meanZ() const { return static_cast<float>(sum_z / count); }

  // Slope and intercept; a level line through the mean when the slope is not yet trustworthy.
  void solve(float min_span, float min_slope, float& slope, float& intercept) const {
    slope = 0.0F;
    intercept = meanZ();
    if (count < 2 || span() < min_span) {
      return;
    }
    const double n = count;
    const double denominator = n * sum_rr - sum_r * sum_r;
    if (denominator <= 0.0) {
      return;
    }
    const double b = (n * sum_rz - sum_r * sum_z) / denominator;
    if (std::fabs(b) < min_slope) {
      return;
    }
    slope = static_cast<float>(b);
    intercept = static_cast<float>((sum_z - b * sum_r) / n);
  }

  float rmsResidual(float slope, float intercept) const {
    // Sum of (z - a - b r)^2 expanded into the accumulated moments.
    const double a = intercept;
    const double b = slope;
    const double sse = sum_zz - 2.0 * a * sum_z - 2.0 * b * sum_rz + count * a * a +
                       2.0 * a * b * sum_r + b * b * sum_rr;
    return static_cast<float>(std::sqrt(std::max(0.0, sse) / count));
  }
};

// Beyond the farthest floor seen, a line is carried on with its slope only where that slope is
// the floor's: a ramp or a tilted floor rises clear of the line's scatter, and evenly, so that the
// far half of the line has the slope of the whole. Otherwise the slope comes from the lowest-return
// bias (more returns per bin near the sensor, so a lower lowest one), which rises only a few
// millimetres over the line, or from a step up onto a mat or a sill taken in near the line's end,
// which makes the far half steeper. Carried metres on, either lifts the floor over the feet of
// the walls and pillars standing there; the line then goes on level from its end.
float onwardSlope(const std::vector<std::pair<float, float>>& candidates, float slope,
                  float intercept, float min_span) {
  LineAccumulator line;
  for (const auto& candidate : candidates) {
    line.add(candidate.first, candidate.second);
  }
  const float scatter = std::max(line.rmsResidual(slope, intercept), kMinNoiseSigma);
  if (std::fabs(slope) * line.span() < kOnwardSlopeResiduals * scatter) {
    return 0.0F;
  }
  const float middle = 0.5F * (line.first_range + line.last_range);
  LineAccumulator far_half;
  for (const auto& candidate : candidates) {
    if (candidate.first >= middle) {
      far_half.add(candidate.first, candidate.second);
    }
  }
  float far_slope = 0.0F;
  float far_intercept = 0.0F;
  far_half.solve(min_span, 0.0F, far_slope, far_intercept);
  return std::fabs(far_slope - slope) <= kOnwardSlopeAgreement * std::fabs(slope) ? slope : 0.0F;
}

}  // namespace

RemoveGroundLineFit::RemoveGroundLineFit(const GroundRemovalParams& params) {
  setParams(params);
}

void RemoveGroundLineFit::setParams(const GroundRemovalParams& params) {
  validate(params);
  params_ = params;
  segment_count_ = static_cast<int>(std::ceil(kTwoPi / params_.segmentation_angular_resolution));
  bin_count_ =
      static_cast<int>(std::ceil((params_.point_cloud_max_range - params_.point_cloud_min_range) /
                                 params_.segmentation_bin_len));
  const std::size_t bins = static_cast<std::size_t>(segment_count_) * bin_count_;
  bin_lowest_z_.assign(bins, std::numeric_limits<float>::quiet_NaN());
  bin_lowest_range_.assign(bins, 0.0F);
  bin_lowest_point_.assign(bins, 0);
  segment_line_begin_.assign(static_cast<std::size_t>(segment_count_) + 1, 0);
  lines_.clear();
}

void RemoveGroundLineFit::removeGround(PointCloudPtr in, PointCloudPtr obstacles,
                                       PointCloudPtr ground) {
  if (in == nullptr || obstacles == nullptr || ground == nullptr) {
    LOG_ERROR("removeGround: {} cloud pointer is null; nothing done",
              in == nullptr ? "input" : (obstacles == nullptr ? "obstacle" : "ground"));
    return;
  }
  const auto& points = in->points;
  const std::size_t n = points.size();
  point_segment_.resize(n);
  point_range_.resize(n);
  std::fill(bin_lowest_z_.begin(), bin_lowest_z_.end(), std::numeric_limits<float>::quiet_NaN());

  buildStackGrid(points);

  const float inverse_resolution = 1.0F / params_.segmentation_angular_resolution;
  const float inverse_bin_len = 1.0F / params_.segmentation_bin_len;
  const float min_range = params_.point_cloud_min_range;
  const float max_range = params_.point_cloud_max_range;
  std::size_t non_finite = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ& p = points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      point_segment_[i] = -1;
      ++non_finite;
      continue;
    }
    const float range = std::sqrt(p.x * p.x + p.y * p.y);
    const float azimuth = detail::fastAtan2(p.y, p.x) + kPi;
    const int segment =
        std::min(static_cast<int>(azimuth * inverse_resolution), segment_count_ - 1);
    point_segment_[i] = segment;
    point_range_[i] = range;
    if (range < min_range || range >= max_range || p.z > params_.max_obstacle_height) {
      continue;
    }
    const int bin =
        std::min(static_cast<int>((range - min_range) * inverse_bin_len), bin_count_ - 1);
    const std::size_t cell = static_cast<std::size_t>(segment) * bin_count_ + bin;
    // NaN compares false, so an empty bin takes the first point.
    if (!(p.z >= bin_lowest_z_[cell])) {
      bin_lowest_z_[cell] = p.z;
      bin_lowest_range_[cell] = range;
      bin_lowest_point_[cell] = static_cast<int>(i);
    }
  }
  if (non_finite > 0) {
    LOG_ERROR("removeGround: skipped {} of {} points with a non-finite coordinate", non_finite, n);
  }
  // A bin whose lowest point stands on a vertical structure offers no floor candidate. Tested
  // here, once per bin, rather than for every point above.
  for (std::size_t cell = 0; cell < bin_lowest_z_.size(); ++cell) {
    if (!std::isnan(bin_lowest_z_[cell]) &&
        onStack(static_cast<std::size_t>(bin_lowest_point_[cell]),
                points[static_cast<std::size_t>(bin_lowest_point_[cell])], false)) {
      bin_lowest_z_[cell] = std::numeric_limits<float>::quiet_NaN();
    }
  }

  lines_.clear();
  for (int segment = 0; segment < segment_count_; ++segment) {
    segment_line_begin_[segment] = static_cast<int>(lines_.size());
    fitSegmentLines(segment);
  }
  segment_line_begin_[segment_count_] = static_cast<int>(lines_.size());

  obstacles->points.reserve(obstacles->points.size() + n);
  ground->points.reserve(ground->points.size() + n);
  for (std::size_t i = 0; i < n; ++i) {
    const int segment = point_segment_[i];
    if (segment < 0) {
      continue;
    }
    const pcl::PointXYZ& p = points[i];
    const float range = point_range_[i];
    bool has_line = false;
    const float ground_z = groundHeight(segment, range, has_line);
    float tolerance = has_line ? params_.max_dist_point_groundline : params_.cam_height;
    if (range < params_.x_distance_need_preprocess) {
      tolerance = params_.z_distance_need_remove;
    }
    const bool lifted = p.z - ground_z > kStackFootSlack;
    if (p.z - ground_z <= tolerance && p.z <= params_.max_obstacle_height &&
        !onStack(i, p, lifted)) {
      ground->points.push_back(p);
    } else {
      obstacles->points.push_back(p);
    }
  }
  obstacles->width = static_cast<std::uint32_t>(obstacles->points.size());
  obstacles->height = 1;
  ground->width = static_cast<std::uint32_t>(ground->points.size());
  ground->height = 1;
}

void RemoveGroundLineFit::buildStackGrid(const PointCloud::VectorType& points) {
  const std::size_t n = points.size();
  point_stack_cell_.resize(n);
  const float inverse_cell = 1.0F / kStackCell;
  // Cell coordinates of the covered points and their bounding box; the cell indices follow once
  // the box is known.
  int min_column = std::numeric_limits<int>::max();
  int min_row = min_column;
  int max_column = std::numeric_limits<int>::min();
  int max_row = max_column;
  stack_column_.resize(n);
  stack_row_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ& p = points[i];
    if (!(std::fabs(p.x) <= kStackExtent && std::fabs(p.y) <= kStackExtent &&
          p.z <= params_.max_obstacle_height) ||
        !std::isfinite(p.z)) {
      point_stack_cell_[i] = -1;
      continue;
    }
    // Shifted to positive values so that truncation rounds down like floor, more cheaply.
    const int column = static_cast<int>(p.x * inverse_cell + kStackOffset);
    const int row = static_cast<int>(p.y * inverse_cell + kStackOffset);
    stack_column_[i] = column;
    stack_row_[i] = row;
    min_column = std::min(min_column, column);
    max_column = std::max(max_column, column);
    min_row = std::min(min_row, row);
    max_row = std::max(max_row, row);
    point_stack_cell_[i] = 0;
  }
  if (min_column > max_column) {
    return;
  }
  // One cell of margin on every side, so that the 3 x 3 neighbourhood never leaves the grid.
  stack_columns_ = max_column - min_column + 3;
  const int rows = max_row - min_row + 3;
  const std::size_t cells = static_cast<std::size_t>(stack_columns_) * rows;
  constexpr float kInf = std::numeric_limits<float>::infinity();
  stack_cells_.assign(cells, StackCell{kInf, -kInf, 0.0F, 0.0F, 0.0F, 0.0F, 0.0F});
  for (std::size_t i = 0; i < n; ++i) {
    if (point_stack_cell_[i] < 0) {
      continue;
    }
    const int cell =
        (stack_row_[i] - min_row + 1) * stack_columns_ + (stack_column_[i] - min_column + 1);
    point_stack_cell_[i] = cell;
    stack_cells_[cell].bottom = std::min(stack_cells_[cell].bottom, points[i].z);
  }
  const float least_rise = params_.max_dist_point_groundline - kStackFootSlack;
  for (std::size_t i = 0; i < n; ++i) {
    const int cell = point_stack_cell_[i];
    if (cell < 0) {
      continue;
    }
    StackCell& stack = stack_cells_[cell];
    const pcl::PointXYZ& p = points[i];
    if (p.z <= stack.bottom + kStackReach) {
      stack.top = std::max(stack.top, p.z);
      if (p.z > stack.bottom + least_rise) {
        stack.rise_sum_x += p.x;
        stack.rise_sum_y += p.y;
        stack.rise_count += 1.0F;
      }
    }
  }
  // Most points lie on open floor, far from any stack: mark the neighbourhoods of the cells that
  // could pass the test (rising more than max_dist_point_groundline - kStackFootSlack from their
  // bottom), so that onStack can dismiss the others with one look-up.
  //
  // Where a rising cell's face stands: range noise scatters a face's returns along the rays, a
  // centimetre or two either side of it, and the cell borders cut that spread, so that a cell
  // can hold only the returns scattered towards the sensor. The mean of the rising points of the
  // cell and of its two neighbours along the axis nearer the line of sight spans the whole
  // spread; across the line of sight the cell's own mean is kept.
  near_stack_.assign(cells, 0);
  const int last = static_cast<int>(cells) - stack_columns_ - 1;
  for (int c = stack_columns_ + 1; c < last; ++c) {
    StackCell& stack = stack_cells_[c];
    if (stack.top - stack.bottom > least_rise) {
      for (int row_offset = -stack_columns_; row_offset <= stack_columns_;
           row_offset += stack_columns_) {
        near_stack_[c + row_offset - 1] = 1;
        near_stack_[c + row_offset] = 1;
        near_stack_[c + row_offset + 1] = 1;
      }
      const float own_x = stack.rise_sum_x / stack.rise_count;
      const float own_y = stack.rise_sum_y / stack.rise_count;
      const bool along_x = std::fabs(own_x) >= std::fabs(own_y);
      const int step = along_x ? 1 : stack_columns_;
      const StackCell& before = stack_cells_[c - step];
      const StackCell& after = stack_cells_[c + step];
      const float count = before.rise_count + stack.rise_count + after.rise_count;
      if (along_x) {
        stack.face_x = (before.rise_sum_x + stack.rise_sum_x + after.rise_sum_x) / count;
        stack.face_y = own_y;
      } else {
        stack.face_x = own_x;
        stack.face_y = (before.rise_sum_y + stack.rise_sum_y + after.rise_sum_y) / count;
      }
    }
  }
}

bool RemoveGroundLineFit::onStack(std::size_t point, const pcl::PointXYZ& p, bool lifted) const {
  const int cell = point_stack_cell_[point];
  if (cell < 0 || near_stack_[cell] == 0) {
    return false;
  }
  // A lifted point is no floor standing in front of a structure: the structure's returns may
  // start anywhere the stack reaches above it.
  const float foot = p.z + (lifted ? kStackReach : kStackFootSlack);
  const float radius = lifted ? kLiftedFootRadius : kStackFootRadius;
  const float rise = p.z + params_.max_dist_point_groundline;
  for (int row_offset = -stack_columns_; row_offset <= stack_columns_;
       row_offset += stack_columns_) {
    for (int c = cell + row_offset - 1; c <= cell + row_offset + 1; ++c) {
      const StackCell& stack = stack_cells_[c];
      if (stack.bottom <= foot && stack.top > rise) {
        const float dx = stack.face_x - p.x;
        const float dy = stack.face_y - p.y;
        if (dx * dx + dy * dy <= radius * radius) {
          return true;
        }
      }
    }
  }
  return false;
}

void RemoveGroundLineFit::fitSegmentLines(int segment) {
  const GroundRemovalParams& p = params_;
  const float min_span = kMinSlopeSpanBins * p.segmentation_bin_len;
  const std::size_t first_cell = static_cast<std::size_t>(segment) * bin_count_;

  LineAccumulator line;
  // line_candidates_ holds the candidates of the line being fitted, and after it closes, until the
  // next one starts: at the end they are the segment's last line's, the only one carried on beyond
  // its end.
  const std::size_t first_line = lines_.size();
  bool has_previous = false;
  GroundLine previous{0.0F, 0.0F, 0.0F, 0.0F, 0.0F};

  auto close_line = [&]() {
    if (line.count == 0) {
      return;
    }
    float slope = 0.0F;
    float intercept = 0.0F;
    line.solve(min_span, p.min_slope, slope, intercept);
    previous = GroundLine{line.first_range, line.last_range, slope, intercept, 0.0F};
    lines_.push_back(previous);
    has_previous = true;
    line = LineAccumulator{};
  };
  // True when the next candidate after `bin` lies on the line again, so that a low candidate at
  // `bin` stands alone.
  auto isolatedBelow = [&](std::size_t cell0, int bin, float slope, float intercept) {
    for (int next = bin + 1; next < bin_count_; ++next) {
      const float next_z = bin_lowest_z_[cell0 + next];
      if (!std::isnan(next_z)) {
        const float next_r = bin_lowest_range_[cell0 + next];
        return std::fabs(next_z - (intercept + slope * next_r)) <= p.max_dist_point_groundline;
      }
    }
    return false;
  };
  auto try_start = [&](float r, float z) {
    const float reference = has_previous ? previous.heightAt(r) : 0.0F;
    const float rise = z - reference;
    if (rise <= p.max_height_diff_for_start_up && rise >= -p.max_height_diff_for_start_down) {
      line.add(r, z);
      line_candidates_.clear();
      line_candidates_.emplace_back(r, z);
    }
  };

  for (int bin = 0; bin < bin_count_; ++bin) {
    const float z = bin_lowest_z_[first_cell + bin];
    if (std::isnan(z)) {
      continue;
    }
    const float r = bin_lowest_range_[first_cell + bin];
    if (line.count == 0) {
      try_start(r, z);
      continue;
    }
    if (r - line.last_range < p.diluting_threshold) {
      continue;
    }
    float slope = 0.0F;
    float intercept = 0.0F;
    line.solve(min_span, p.min_slope, slope, intercept);
    const float deviation = z - (intercept + slope * r);
    const float sigma = std::max(line.rmsResidual(slope, intercept), kMinNoiseSigma);
    if (deviation < -p.noise_nsigma * sigma && isolatedBelow(first_cell, bin, slope, intercept)) {
      continue;  // a lone spurious return below the floor, not a step down
    }
    const bool long_gap = r - line.last_range > p.long_threshold;
    const bool fits = long_gap ? std::fabs(z - line.last_z) <= p.max_height_diff_for_front
                               : std::fabs(deviation) <= p.max_dist_point_groundline;
    if (!fits) {
      if (deviation > 0.0F) {
        continue;  // the bottom of an obstacle standing on this floor
      }
      close_line();
      try_start(r, z);
      continue;
    }
    LineAccumulator extended = line;
    extended.add(r, z);
    float new_slope = 0.0F;
    float new_intercept = 0.0F;
    extended.solve(min_span, p.min_slope, new_slope, new_intercept);
    if (std::fabs(new_slope) > p.max_slope ||
        extended.rmsResidual(new_slope, new_intercept) > p.max_lsq_residual) {
      close_line();
      try_start(r, z);
      continue;
    }
    line = extended;
    line_candidates_.emplace_back(r, z);
  }
  close_line();
  if (lines_.size() > first_line) {
    GroundLine& last = lines_.back();
    last.onward_slope = onwardSlope(line_candidates_, last.slope, last.intercept, min_span);
  }
}

float RemoveGroundLineFit::groundHeight(int segment, float range, bool& has_line) const {
  const int begin = segment_line_begin_[segment];
  const int end = segment_line_begin_[segment + 1];
  has_line = begin < end;
  if (!has_line) {
    return 0.0F;
  }
  const float reach = params_.segmentation_bin_len;
  const GroundLine& first = lines_[begin];
  if (range < first.range_begin - reach) {
    // Nearer than any fitted floor: blend from the floor plane under the robot (z = 0 at the
    // frame origin) to the first line, so a gentle slope seen ahead carries over.
    const float start = first.heightAt(first.range_begin);
    return first.range_begin > 0.0F ? start * (range / first.range_begin) : start;
  }
  for (int i = begin; i < end; ++i) {
    const GroundLine& line = lines_[i];
    if (range <= line.range_end + reach) {
      if (range >= line.range_begin - reach) {
        return line.heightAt(range);
      }
      // In the gap between the previous line and this one.
      const GroundLine& before = lines_[i - 1];
      const float from = before.heightAt(before.range_end);
      const float to = line.heightAt(line.range_begin);
      const float t = (range - before.range_end) / (line.range_begin - before.range_end);
      return from + t * (to - from);
    }
  }
  const GroundLine& last = lines_[end - 1];
  return last.heightAt(last.range_end) + last.onward_slope * (range - last.range_end);
}

}  // namespace perception
}  // namespace norvel
