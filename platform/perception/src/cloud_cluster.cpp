#include <norvel/perception/cloud_cluster.hpp>

#include "logger.hpp"
#include "union_find.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <tuple>

namespace norvel {
namespace perception {

namespace {

// Largest dense lookup grid (cells); wider clouds use the hash map instead.
constexpr std::int64_t kMaxDenseCells = std::int64_t{1} << 22;
// Cell indices are packed into one 64-bit key: 32 bits each, after offsetting to non-negative.
constexpr std::int64_t kKeyShift = 32;
// Each cell is divided into kSubCells x kSubCells sub-cells, recorded as a 16-bit occupancy mask
// (bit sub_row * kSubCells + sub_column), which measures the gap between neighbouring cells'
// points to a quarter of a cell.
// The mask operations below are written for 4 x 4.
constexpr int kSubCells = 4;
// Points closer than the gap join whatever their shape; across a wider gap (still within the
// kernel) a part longer than this (a wall, a shelf, a bench) does not take in a shorter one (a
// person's legs beside it), while parts of one kind join as before, but for two long ones side
// by side (a shelf or a cabinet in front of a wall, parallel to it and off its line). A walker's
// legs in full stride and a body's width stay well below it.
constexpr float kLongPart = 1.0F;
// A short part whose centre lies this close to a long part's centre line (metres) is a piece of
// that structure (a stretch of wall between two shadows) rather than something beside it.
constexpr double kInLine = 0.1;

// A person seen below the hips is two legs, which a stride or a slim build parts by more than the
// kernel reaches. Pieces no wider than kLegPiece (diagonal, metres) whose boxes lie within
// kLegGap of each other in both axes join, nearest pairs first, while what they make stays within
// kBodyWidth (diagonal): two people side by side, or a leg and a chair leg, make more.
constexpr double kLegPiece = 0.35;
constexpr double kLegGap = 0.25;
constexpr double kBodyWidth = 0.7;

// Something standing within the gap of a wall (a person walking along it, a bin against it) joins
// the wall in the first round. A cluster longer than kLongPart whose points mostly lie on one line
// (within kOnLine of it) is taken for such a wall: its points farther than kBesideLine from the
// line, on the side the base frame's origin looks from, are grouped (cells within one beyond the
// kernel) and each group no wider than kBesideWidth (diagonal, metres) with at least kMinBeside
// points becomes a cluster of its own. Points behind the line (a door recess, the far side of a
// corner) stay with it.
constexpr double kOnLine = 0.05;
constexpr double kOnLineShare = 0.5;
constexpr double kBesideLine = 0.07;
constexpr double kBesideWidth = 1.0;
// What holds as many points as the wall beside it, and so pulls the wall's principal axis off,
// is larger: a cabinet or a shelf unit, peeled up to this width (diagonal, metres).
constexpr double kLargeBesideWidth = 1.6;
// Such a wall still holds this share of the cluster's points on its line, and at most this share
// lies behind it (a table and its chairs hold no line with nearly nothing behind).
constexpr double kFoundLineShare = 0.3;
constexpr double kFoundLineBehind = 0.05;
constexpr int kMinBeside = 10;
// Points a line fit takes at most (evenly spaced through the cluster's points).
constexpr std::size_t kLineFitPoints = 512;
// Directions a wall's line is searched in (over half a turn: 3 degrees apart), and the points
// (evenly spaced through the cluster's) the search takes: enough to tell a line, and the refits
// then take the line's own points.
constexpr int kLineAngles = 60;
constexpr std::size_t kWallSearchPoints = 128;
// The windows (metres either side) of the successive refits of a wall's line.
constexpr std::array<double, 4> kRefitWindows = {0.3, 0.15, 0.1, 0.05};
// Spread along its axis (standard deviation, metres) from which a thin group counts as a line.
constexpr double kThinGroupSpread = 0.17;
// A thin group runs across the line when the cosine between their directions is below this.
constexpr double kAcrossCosine = 0.7;

// A long thin cluster (a wall, a shelf front, a row of benches) and the next long cluster along
// its line are one structure when the stretch between them is hidden by something nearer the
// sensor: the shadow of a person or a chair cuts a wall behind it into pieces that no kernel can
// join. The next cluster may turn a corner; a short one (a person at the wall's end) stays apart.
// Thin: the spread across the centre line (standard deviation, metres).
constexpr double kLineThickness = 0.05;
// A piece shorter than 1 m continues the line only when it is at least this long (metres; a
// person's hips and legs are shorter), thin, and on the line: its heading within the angle of
// this sine and its centre within kInLine.
constexpr double kShortestPiece = 0.5;
constexpr double kPieceHeadingSine = 0.17;
// Longest hidden stretch joined, metres.
constexpr double kMaxShadowGap = 3.0;
// The stretch's ends are left out of the test (metres): the clusterer works in the base frame and
// does not know where on the robot the sensor sits, which moves a shadow's edges a little.
constexpr double kShadowEndMargin = 0.15;
// Along each line of sight to the hidden stretch, something must lie between this far from the
// origin and this far short of the stretch, and nothing between this far and kSeenBeyond behind
// it (a gap seen through is an opening, not a shadow), metres.
constexpr double kShadowNearest = 0.2;
constexpr double kShadowClearance = 0.3;
constexpr double kSeenBeyond = 2.0;
// A stretch this short (metres, narrower than a doorway) between a line and the next piece on it
// joins them without a shadow when no line of sight sees through it: a sparse scan of a far wall,
// or of one the region's edge runs along, leaves open stretches of this order between its returns.
constexpr double kMaxSamplingGap = 0.5;
// Joined lines are sought again from their new ends this many times, so that a wall seen in
// several pieces becomes one.
constexpr int kBridgeRounds = 4;
// Lines of sight are sampled, and followed, every half cell (in quarter cells).
constexpr double kSightStep = 0.5 * kSubCells;

// Mask of the sub-cells (x, y) for which some occupied sub-cell (ax, ay) of `mask` lies close
// enough: `x_at_edge` asks x <= ax (the neighbour is `reach` columns further, at the kernel's
// edge), otherwise any x will do (inside the edge every pair of sub-cells is close enough in that
// axis); `y_side` asks y <= ay (-1, reach rows further), y >= ay (+1, reach rows back) or any y
// (0). Only half of the neighbourhood is visited, so columns never lie back.
std::uint16_t reachableSubCells(std::uint16_t mask, bool x_at_edge, int y_side) {
  std::uint32_t m = mask;
  m |= (m >> 1) & 0x7777U;
  m |= (m >> 2) & 0x3333U;
  if (!x_at_edge) {
    m |= (m << 1) & 0xEEEEU;
    m |= (m << 2) & 0xCCCCU;
  }
  if (y_side < 0) {
    m |= m >> 4;
    m |= m >> 8;
  } else if (y_side > 0) {
    m |= m << 4;
    m |= m << 8;
  } else {
    m |= (m >> 4) | (m << 4);
    m |= (m >> 8) | (m << 8);
  }
  return static_cast<std::uint16_t>(m & 0xFFFFU);
}

// Index of the quarter cell holding coordinate `v` on a grid of `step` cells starting at `origin`;
// the cell is this divided by kSubCells (multiplying by a power of two is exact).
std::int64_t quarterIndex(float v, double origin, double step) {
  return static_cast<std::int64_t>((static_cast<double>(v) - origin) / step * kSubCells);
}

// Calls `visit(x, y)` with the centre of each occupied quarter cell of a cell, in quarter cells.
template <typename Visit>
void forEachQuarterCell(std::int64_t column, std::int64_t row, std::uint16_t mask, Visit visit) {
  const std::int64_t x = column * kSubCells;
  const std::int64_t y = row * kSubCells;
  for (unsigned bits = mask; bits != 0; bits &= bits - 1) {
    const int sub_cell = __builtin_ctz(bits);
    visit(static_cast<double>(x + sub_cell % kSubCells) + 0.5,
          static_cast<double>(y + sub_cell / kSubCells) + 0.5);
  }
}

}  // namespace

CloudCluster::CloudCluster(const CloudClusterPara& para) : para_(para) {
  if (!std::isfinite(para.cluster_grid_step) || !(para.cluster_grid_step > 0.0F)) {
    throw std::invalid_argument(
        fmt::format("cloud cluster: cluster_grid_step must be a finite value > 0, got {}",
                    para.cluster_grid_step));
  }
  if (para.cluster_grid_kernelSize < 1) {
    throw std::invalid_argument(
        fmt::format("cloud cluster: cluster_grid_kernelSize must be >= 1, got {}",
                    para.cluster_grid_kernelSize));
  }
  kernel_reach_ = para.cluster_grid_kernelSize / 2;
}

CloudCluster::PartAxis CloudCluster::PartShape::axis() const {
  PartAxis result;
  result.mean_x = sum_x / count;
  result.mean_y = sum_y / count;
  const double var_xx = sum_xx / count - result.mean_x * result.mean_x;
  const double var_xy = sum_xy / count - result.mean_x * result.mean_y;
  const double var_yy = sum_yy / count - result.mean_y * result.mean_y;
  // The principal axes of the 2 x 2 covariance.
  const double angle = 0.5 * std::atan2(2.0 * var_xy, var_xx - var_yy);
  result.dir_x = std::cos(angle);
  result.dir_y = std::sin(angle);
  const double half_sum = 0.5 * (var_xx + var_yy);
  const double half_difference = 0.5 * (var_xx - var_yy);
  const double radius = std::sqrt(half_difference * half_difference + var_xy * var_xy);
  result.major = std::sqrt(half_sum + radius);
  result.minor = std::sqrt(std::max(half_sum - radius, 0.0));
  return result;
}

int CloudCluster::findRoot(int cell) {
  return detail::rootIn(cell_parent_, cell);
}

void CloudCluster::joinCells(int a, int b) {
  a = findRoot(a);
  b = findRoot(b);
  if (a == b) {
    return;
  }
  // The older cell stays root, which keeps roots independent of neighbour visiting order.
  if (a < b) {
    cell_parent_[b] = a;
  } else {
    cell_parent_[a] = b;
  }
}

int CloudCluster::cellIdAt(std::int64_t column, std::int64_t row) const {
  if (column < 0 || row < 0 || column >= grid_columns_ || row >= grid_rows_) {
    return -1;
  }
  if (use_dense_grid_) {
    return dense_grid_[static_cast<std::size_t>(column * grid_rows_ + row)];
  }
  const auto found = sparse_grid_.find((column << kKeyShift) | row);
  return found == sparse_grid_.end() ? -1 : found->second;
}

void CloudCluster::measurePartExtents(int cell_count, double step) {
  // Each part's extent in quarter cells, from its cells' occupied quarter columns and rows.
  part_shape_.resize(cell_count);
  for (int c = 0; c < cell_count; ++c) {
    if (cell_parent_[c] == c) {
      part_shape_[c] = PartShape{};
    }
  }
  for (int c = 0; c < cell_count; ++c) {
    const unsigned mask = cell_mask_[c];
    const unsigned columns = (mask | (mask >> 4) | (mask >> 8) | (mask >> 12)) & 0xFU;
    const unsigned rows = ((mask & 0xFU) != 0 ? 1U : 0U) | ((mask & 0xF0U) != 0 ? 2U : 0U) |
                          ((mask & 0xF00U) != 0 ? 4U : 0U) | ((mask & 0xF000U) != 0 ? 8U : 0U);
    const std::int64_t x = cell_column_[c] * kSubCells;
    const std::int64_t y = cell_row_[c] * kSubCells;
    PartShape& shape = part_shape_[findRoot(c)];
    shape.low_x = std::min(shape.low_x, x + __builtin_ctz(columns));
    shape.high_x = std::max(shape.high_x, x + 31 - __builtin_clz(columns));
    shape.low_y = std::min(shape.low_y, y + __builtin_ctz(rows));
    shape.high_y = std::max(shape.high_y, y + 31 - __builtin_clz(rows));
  }
  const double quarter = step / kSubCells;
  for (int c = 0; c < cell_count; ++c) {
    if (cell_parent_[c] == c) {
      PartShape& shape = part_shape_[c];
      shape.is_long = shape.diagonal(quarter) > kLongPart;
    }
  }
}

void CloudCluster::measurePartMoments(int cell_count) {
  // Over the occupied quarter cells' centres, in quarter cells.
  for (int c = 0; c < cell_count; ++c) {
    PartShape& shape = part_shape_[findRoot(c)];
    if (!shape.needs_moments) {
      continue;
    }
    forEachQuarterCell(cell_column_[c], cell_row_[c], cell_mask_[c], [&](double cx, double cy) {
      shape.count += 1.0;
      shape.sum_x += cx;
      shape.sum_y += cy;
      shape.sum_xx += cx * cx;
      shape.sum_xy += cx * cy;
      shape.sum_yy += cy * cy;
    });
  }
}

CloudCluster::LineSupport CloudCluster::supportOf(const Eigen::Vector2d* xy, std::size_t count,
                                                  const PartAxis& line) {
  LineSupport support;
  const double origin_side = line.signedOffsetOf(0.0, 0.0);
  for (std::size_t m = 0; m < count; ++m) {
    const Eigen::Vector2d& p = xy[m];
    const double offset = line.signedOffsetOf(p.x(), p.y());
    if (std::fabs(offset) <= kOnLine) {
      ++support.on_line;
      const double along = (p.x() - line.mean_x) * line.dir_x + (p.y() - line.mean_y) * line.dir_y;
      support.low = std::min(support.low, along);
      support.high = std::max(support.high, along);
    } else if (std::fabs(offset) > kBesideLine) {
      ++((offset > 0.0) == (origin_side > 0.0) ? support.in_front : support.behind);
    }
  }
  return support;
}

CloudCluster::PartAxis CloudCluster::wallLine(const Eigen::Vector2d* xy, std::size_t count) {
  // Every direction in kLineAngles steps: the points' offsets across it, binned at kOnLine. The
  // direction whose fullest pair of neighbouring bins holds the most points is the wall's; a
  // principal axis would lean towards whatever stands beside the wall.
  const std::size_t stride = std::max<std::size_t>(1, count / kWallSearchPoints);
  double best_count = -1.0;
  double best_angle = 0.0;
  double best_offset = 0.0;
  for (int a = 0; a < kLineAngles; ++a) {
    const double angle = M_PI * a / kLineAngles;
    const double nx = -std::sin(angle);
    const double ny = std::cos(angle);
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (std::size_t k = 0; k < count; k += stride) {
      const double offset = xy[k].x() * nx + xy[k].y() * ny;
      low = std::min(low, offset);
      high = std::max(high, offset);
    }
    const auto bins = static_cast<std::size_t>((high - low) / kOnLine) + 2;
    line_bins_.assign(bins, 0);
    for (std::size_t k = 0; k < count; k += stride) {
      ++line_bins_[static_cast<std::size_t>((xy[k].x() * nx + xy[k].y() * ny - low) / kOnLine)];
    }
    int fullest = 0;
    for (std::size_t b = 0; b + 1 < bins; ++b) {
      fullest = std::max(fullest, line_bins_[b] + line_bins_[b + 1]);
    }
    if (fullest <= best_count) {
      continue;
    }
    best_count = fullest;
    best_angle = angle;
    // Of the lines along it with at least half as many points, the farthest from the origin
    // (whose offset is 0): a cabinet's face in front of a wall may hold more than the wall.
    double farthest = -1.0;
    for (std::size_t b = 0; b + 1 < bins; ++b) {
      if (2 * (line_bins_[b] + line_bins_[b + 1]) >= fullest) {
        const double offset = low + kOnLine * (static_cast<double>(b) + 1.0);
        if (std::fabs(offset) > farthest) {
          farthest = std::fabs(offset);
          best_offset = offset;
        }
      }
    }
  }
  PartAxis line;
  line.dir_x = std::cos(best_angle);
  line.dir_y = std::sin(best_angle);
  line.mean_x = -line.dir_y * best_offset;
  line.mean_y = line.dir_x * best_offset;
  // Centred on the line's own points, which the refits take from here.
  return fitLine(xy, count, &line, kOnLine);
}

CloudCluster::PartAxis CloudCluster::refitLine(const Eigen::Vector2d* xy, std::size_t count,
                                               PartAxis line) {
  for (const double within : kRefitWindows) {
    line = fitLine(xy, count, &line, within);
  }
  return line;
}

CloudCluster::PartAxis CloudCluster::fitLine(const Eigen::Vector2d* xy, std::size_t count,
                                             const PartAxis* around, double within) {
  // A few hundred points, evenly taken, fix a line as well as all of a dense wall's.
  const std::size_t stride = std::max<std::size_t>(1, count / kLineFitPoints);
  PartShape shape;
  for (std::size_t k = 0; k < count; k += stride) {
    if (around == nullptr || around->offsetOf(xy[k].x(), xy[k].y()) <= within) {
      shape.addPoint(xy[k].x(), xy[k].y());
    }
  }
  // No point within the window leaves a degenerate axis, on which no point lies.
  shape.count = std::max(shape.count, 1.0);
  return shape.axis();
}

void CloudCluster::peelFromLines(const PointCloud& cloud, int cell_count, double step,
                                 double grid_min_x, double grid_min_y) {
  const std::size_t n = cloud.points.size();
  const std::size_t cluster_count = cluster_size_.size();
  // Which clusters are long (measurePartExtents, whose roots are now the clusters'), then the
  // points of the long ones grouped by cluster.
  measurePartExtents(cell_count, step);
  cluster_is_long_.assign(cluster_count, 0);
  for (int c = 0; c < cell_count; ++c) {
    if (cell_parent_[c] == c && root_cluster_[c] >= 0) {
      const auto k = static_cast<std::size_t>(root_cluster_[c]);
      cluster_is_long_[k] = cluster_size_[k] >= 2 * kMinBeside && part_shape_[c].is_long;
    }
  }
  line_first_.assign(cluster_count + 1, 0);
  beside_slot_.assign(static_cast<std::size_t>(cell_count), -1);
  beside_cells_.clear();
  bool any_long = false;
  for (std::size_t k = 0; k < cluster_count; ++k) {
    line_first_[k + 1] = line_first_[k] + (cluster_is_long_[k] != 0 ? cluster_size_[k] : 0);
    any_long = any_long || cluster_is_long_[k] != 0;
  }
  if (!any_long) {
    return;
  }
  // Point indices and coordinates side by side, so that the fits below run over contiguous
  // memory.
  line_points_.resize(static_cast<std::size_t>(line_first_[cluster_count]));
  line_xy_.resize(line_points_.size());
  line_fill_.assign(line_first_.begin(), line_first_.end() - 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (point_cell_[i] >= 0 && cluster_is_long_[static_cast<std::size_t>(point_cell_[i])] != 0) {
      const auto slot = static_cast<std::size_t>(line_fill_[point_cell_[i]]++);
      line_points_[slot] = static_cast<int>(i);
      line_xy_[slot] = Eigen::Vector2d(cloud.points[i].x, cloud.points[i].y);
    }
  }
  bool peeled = false;
  for (std::size_t k = 0; k < cluster_count; ++k) {
    if (cluster_is_long_[k] == 0) {
      continue;
    }
    const int* indices = &line_points_[static_cast<std::size_t>(line_first_[k])];
    const Eigen::Vector2d* xy = &line_xy_[static_cast<std::size_t>(line_first_[k])];
    const auto count = static_cast<std::size_t>(cluster_size_[k]);
    PartAxis line = refitLine(xy, count, fitLine(xy, count, nullptr, 0.0));
    LineSupport support = supportOf(xy, count, line);
    double beside_width = kBesideWidth;
    if (static_cast<double>(support.on_line) < kOnLineShare * static_cast<double>(count)) {
      // Something large in front of the wall (a cabinet beside a stretch of it) pulls the
      // principal axis off both. Searched by direction, the wall's line shows, and the cluster is
      // a wall when its points are mostly on that line but for what stands in front of it.
      line = refitLine(xy, count, wallLine(xy, count));
      support = supportOf(xy, count, line);
      if (static_cast<double>(support.on_line) <
              kOnLineShare * static_cast<double>(count - support.in_front) ||
          static_cast<double>(support.on_line) < kFoundLineShare * static_cast<double>(count) ||
          static_cast<double>(support.behind) > kFoundLineBehind * static_cast<double>(count)) {
        continue;
      }
      beside_width = kLargeBesideWidth;
    }
    // The origin's side of the line: signed offsets of that sign lie in front of it.
    const double origin_side = line.signedOffsetOf(0.0, 0.0);
    if (support.high - support.low <= kLongPart || std::fabs(origin_side) <= kBesideLine) {
      continue;
    }
    // Group the points in front of the line by their cells of the grid, those within one cell
    // beyond the kernel joined (as a person's legs are, see joinLegPieces).
    for (const int cell : beside_cells_) {
      beside_slot_[static_cast<std::size_t>(cell)] = -1;
    }
    beside_cells_.clear();
    beside_points_.clear();
    for (std::size_t m = 0; m < count; ++m) {
      const double offset = line.signedOffsetOf(xy[m].x(), xy[m].y());
      if (std::fabs(offset) <= kBesideLine || (offset > 0.0) != (origin_side > 0.0)) {
        continue;
      }
      const int i = indices[m];
      const pcl::PointXYZ& p = cloud.points[static_cast<std::size_t>(i)];
      const int cell = cellIdAt(quarterIndex(p.x, grid_min_x, step) / kSubCells,
                                quarterIndex(p.y, grid_min_y, step) / kSubCells);
      if (cell < 0) {
        continue;  // cannot happen: every finite point has its cell
      }
      int& slot = beside_slot_[static_cast<std::size_t>(cell)];
      if (slot < 0) {
        slot = static_cast<int>(beside_cells_.size());
        beside_cells_.push_back(cell);
      }
      beside_points_.emplace_back(i, slot);
    }
    if (beside_points_.size() < static_cast<std::size_t>(kMinBeside)) {
      continue;
    }
    const std::int64_t group_reach = kernel_reach_ + 1;
    beside_parent_.resize(beside_cells_.size());
    for (std::size_t c = 0; c < beside_parent_.size(); ++c) {
      beside_parent_[c] = static_cast<int>(c);
    }
    auto root_of = [&](int slot) { return detail::rootIn(beside_parent_, slot); };
    for (std::size_t slot = 0; slot < beside_cells_.size(); ++slot) {
      const int cell = beside_cells_[slot];
      for (std::int64_t dc = -group_reach; dc <= group_reach; ++dc) {
        for (std::int64_t dr = -group_reach; dr <= group_reach; ++dr) {
          const int other = cellIdAt(cell_column_[cell] + dc, cell_row_[cell] + dr);
          if (other >= 0 && beside_slot_[static_cast<std::size_t>(other)] >= 0) {
            const int a = root_of(static_cast<int>(slot));
            const int b = root_of(beside_slot_[static_cast<std::size_t>(other)]);
            beside_parent_[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
          }
        }
      }
    }
    // Per group: its box and point count, then the groups that qualify get a cluster each.
    beside_box_.assign(beside_cells_.size(), Eigen::Vector4f(std::numeric_limits<float>::max(),
                                                             std::numeric_limits<float>::max(),
                                                             std::numeric_limits<float>::lowest(),
                                                             std::numeric_limits<float>::lowest()));
    beside_count_.assign(beside_cells_.size(), 0);
    beside_shape_.assign(beside_cells_.size(), PartShape{});
    for (const auto& entry : beside_points_) {
      const pcl::PointXYZ& p = cloud.points[static_cast<std::size_t>(entry.first)];
      const auto group = static_cast<std::size_t>(root_of(entry.second));
      Eigen::Vector4f& box = beside_box_[group];
      box = Eigen::Vector4f(std::min(box[0], p.x), std::min(box[1], p.y), std::max(box[2], p.x),
                            std::max(box[3], p.y));
      ++beside_count_[group];
      beside_shape_[group].addPoint(p.x, p.y);
    }
    // A group that is itself a thin line across the wall (the next wall round a corner, a door
    // jamb) is structure going on, not something standing in front of it. What stands along the
    // wall shows a thin face too, but one along the wall's line.
    for (std::size_t g = 0; g < beside_shape_.size(); ++g) {
      if (beside_count_[g] > 0) {
        const PartAxis axis = beside_shape_[g].axis();
        const double along = std::fabs(axis.dir_x * line.dir_x + axis.dir_y * line.dir_y);
        // Found by searching directions, the wall's line may be a recess behind the rest of the
        // wall: a thin line along it is that rest.
        if (axis.minor <= kLineThickness && axis.major >= kThinGroupSpread &&
            (along < kAcrossCosine || beside_width > kBesideWidth)) {
          beside_count_[g] = 0;
        }
      }
    }
    beside_cluster_.assign(beside_cells_.size(), -1);
    for (const auto& entry : beside_points_) {
      const auto group = static_cast<std::size_t>(root_of(entry.second));
      const Eigen::Vector4f& box = beside_box_[group];
      if (beside_count_[group] < std::max(kMinBeside, para_.cluster_grid_th) ||
          std::hypot(box[2] - box[0], box[3] - box[1]) > beside_width) {
        continue;
      }
      if (beside_cluster_[group] < 0) {
        beside_cluster_[group] = static_cast<int>(cluster_size_.size());
        cluster_size_.push_back(0);
      }
      --cluster_size_[k];
      point_cell_[static_cast<std::size_t>(entry.first)] = beside_cluster_[group];
      ++cluster_size_[static_cast<std::size_t>(beside_cluster_[group])];
      peeled = true;
    }
  }
  if (!peeled) {
    return;
  }
  // Renumber by first point again.
  renumbered_.assign(cluster_size_.size(), -1);
  int next = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (point_cell_[i] < 0) {
      continue;
    }
    int& target = renumbered_[static_cast<std::size_t>(point_cell_[i])];
    if (target < 0) {
      target = next++;
    }
    point_cell_[i] = target;
  }
  cluster_size_.assign(static_cast<std::size_t>(next), 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (point_cell_[i] >= 0) {
      ++cluster_size_[static_cast<std::size_t>(point_cell_[i])];
    }
  }
}

void CloudCluster::joinLegPieces(int cell_count, double step) {
  measurePartExtents(cell_count, step);
  const double quarter = step / kSubCells;
  // Per root whether its part is leg-sized (the extents hold only for roots).
  leg_sized_.assign(static_cast<std::size_t>(cell_count), 0);
  for (int c = 0; c < cell_count; ++c) {
    if (cell_parent_[c] == c) {
      leg_sized_[static_cast<std::size_t>(c)] = part_shape_[c].diagonal(quarter) <= kLegPiece;
    }
  }
  auto leg_sized = [&](int root) { return leg_sized_[static_cast<std::size_t>(root)] != 0; };
  // Empty quarter cells allowed between two boxes, and the cells to search for them: a box
  // ending in the last quarter of a cell reaches a box starting that many quarters later.
  const auto gap = static_cast<std::int64_t>(kLegGap / quarter);
  const std::int64_t ring = (kSubCells + gap) / kSubCells;
  auto apart = [](std::int64_t low_a, std::int64_t high_a, std::int64_t low_b,
                  std::int64_t high_b) { return std::max(low_b - high_a, low_a - high_b) - 1; };
  leg_pairs_.clear();
  for (int c = 0; c < cell_count; ++c) {
    const int root = findRoot(c);
    if (!leg_sized(root)) {
      continue;
    }
    for (std::int64_t dc = 0; dc <= ring; ++dc) {
      for (std::int64_t dr = -ring; dr <= ring; ++dr) {
        if (dc == 0 && dr <= 0) {
          continue;
        }
        const int neighbour = cellIdAt(cell_column_[c] + dc, cell_row_[c] + dr);
        if (neighbour < 0) {
          continue;
        }
        const int other = findRoot(neighbour);
        if (other == root || !leg_sized(other)) {
          continue;
        }
        const PartShape& a = part_shape_[root];
        const PartShape& b = part_shape_[other];
        if (apart(a.low_x, a.high_x, b.low_x, b.high_x) > gap ||
            apart(a.low_y, a.high_y, b.low_y, b.high_y) > gap) {
          continue;
        }
        const double dx = static_cast<double>(a.low_x + a.high_x - b.low_x - b.high_x);
        const double dy = static_cast<double>(a.low_y + a.high_y - b.low_y - b.high_y);
        leg_pairs_.push_back(
            LegPair{dx * dx + dy * dy, std::min(root, other), std::max(root, other)});
      }
    }
  }
  // Nearest first; equal distances by the parts' first points (roots are their oldest cells),
  // so the result does not depend on the order the cells were visited in.
  std::sort(leg_pairs_.begin(), leg_pairs_.end(), [](const LegPair& a, const LegPair& b) {
    return std::tie(a.distance, a.first, a.second) < std::tie(b.distance, b.first, b.second);
  });
  for (const LegPair& pair : leg_pairs_) {
    const int a = findRoot(pair.first);
    const int b = findRoot(pair.second);
    if (a == b) {
      continue;
    }
    PartShape joined = part_shape_[a];
    const PartShape& other = part_shape_[b];
    joined.low_x = std::min(joined.low_x, other.low_x);
    joined.low_y = std::min(joined.low_y, other.low_y);
    joined.high_x = std::max(joined.high_x, other.high_x);
    joined.high_y = std::max(joined.high_y, other.high_y);
    if (joined.diagonal(quarter) > kBodyWidth) {
      continue;
    }
    joinCells(a, b);
    part_shape_[findRoot(a)] = joined;
  }
}

void CloudCluster::joinPartsByShape(int cell_count, double step) {
  // The pairs farther apart join when their parts are of one kind (see kLongPart), or when a
  // short part lies in line with a long one (see kInLine).
  measurePartExtents(cell_count, step);
  // Parts are fixed before any cross-part join, so the result does not depend on pair order.
  bool any_long = false;
  for (auto& pair : deferred_pairs_) {
    pair.first = findRoot(pair.first);
    pair.second = findRoot(pair.second);
    PartShape& a = part_shape_[pair.first];
    PartShape& b = part_shape_[pair.second];
    if (a.is_long || b.is_long) {
      a.needs_moments = true;
      b.needs_moments = true;
      any_long = true;
    }
  }
  // Moments only for the parts of pairs with a long part.
  if (any_long) {
    measurePartMoments(cell_count);
  }
  const double in_line = kInLine / (step / kSubCells);
  for (const auto& pair : deferred_pairs_) {
    const PartShape& a = part_shape_[pair.first];
    const PartShape& b = part_shape_[pair.second];
    bool join = false;
    if (!a.is_long && !b.is_long) {
      join = true;
    } else if (a.is_long && b.is_long) {
      join = !sideBySide(a, b, in_line);
    } else {
      const PartShape& line = a.is_long ? a : b;
      const PartShape& piece = a.is_long ? b : a;
      join = line.axis().offsetOf(piece.sum_x / piece.count, piece.sum_y / piece.count) <= in_line;
    }
    if (join) {
      joinCells(pair.first, pair.second);
    }
  }
}

bool CloudCluster::sideBySide(const PartShape& a, const PartShape& b, double in_line) {
  const PartAxis first = a.axis();
  const PartAxis second = b.axis();
  return std::fabs(first.dir_x * second.dir_y - first.dir_y * second.dir_x) <= kPieceHeadingSine &&
         first.offsetOf(second.mean_x, second.mean_y) > in_line &&
         second.offsetOf(first.mean_x, first.mean_y) > in_line;
}

int CloudCluster::cellAt(double x, double y) const {
  return cellIdAt(static_cast<std::int64_t>(std::floor(x / kSubCells)),
                  static_cast<std::int64_t>(std::floor(y / kSubCells)));
}

bool CloudCluster::occupiedByOthers(double x, double y, int root_a, int root_b, int around,
                                    const PartAxis* line, double off_line) {
  const auto column = static_cast<std::int64_t>(std::floor(x / kSubCells));
  const auto row = static_cast<std::int64_t>(std::floor(y / kSubCells));
  for (std::int64_t dc = -around; dc <= around; ++dc) {
    for (std::int64_t dr = -around; dr <= around; ++dr) {
      const int cell = cellIdAt(column + dc, row + dr);
      if (cell >= 0) {
        const int root = findRoot(cell);
        if (root != root_a && root != root_b) {
          return true;
        }
        if (line != nullptr &&
            line->offsetOf(static_cast<double>((column + dc) * kSubCells) + 0.5 * kSubCells,
                           static_cast<double>((row + dr) * kSubCells) + 0.5 * kSubCells) >
                off_line) {
          return true;
        }
      }
    }
  }
  return false;
}

bool CloudCluster::continuesLine(const ShadowLine& line, const PartShape& met, double quarter) {
  // Another long structure (the same wall, or the wall round a corner); a shorter piece only when
  // it is a thin stretch on the line itself, so that a person at the wall's end stays apart.
  if (met.is_long) {
    return true;
  }
  if (!met.needs_moments) {
    return false;  // shorter than a piece
  }
  const PartAxis axis = met.axis();
  return axis.minor * quarter <= kLineThickness &&
         axis.major * quarter * std::sqrt(12.0) >= kShortestPiece &&
         std::fabs(axis.dir_x * line.axis.dir_y - axis.dir_y * line.axis.dir_x) <=
             kPieceHeadingSine &&
         line.axis.offsetOf(axis.mean_x, axis.mean_y) * quarter <= kInLine;
}

CloudCluster::SightLine CloudCluster::sightTo(const ShadowLine& line, double t, double origin_x,
                                              double origin_y) {
  const double x = line.axis.mean_x + line.axis.dir_x * t - origin_x;
  const double y = line.axis.mean_y + line.axis.dir_y * t - origin_y;
  const double distance = std::hypot(x, y);
  return SightLine{x / distance, y / distance, distance};
}

bool CloudCluster::stretchHidden(const ShadowLine& line, double from, double to, int other_root,
                                 double origin_x, double origin_y, double quarter) {
  const double margin = kShadowEndMargin / quarter;
  if (to - from <= 2.0 * margin) {
    return false;
  }
  for (double t = from + margin; t <= to - margin; t += kSightStep) {
    const SightLine sight = sightTo(line, t, origin_x, origin_y);
    if (sight.distance * quarter < kShadowNearest + kShadowClearance) {
      return false;  // too near the origin to tell a shadow
    }
    bool hidden = false;
    // The 3 x 3 cells around each step of the line of sight: the sensor need not sit at the
    // origin.
    for (double r = kShadowNearest / quarter;
         r <= sight.distance - kShadowClearance / quarter && !hidden; r += kSightStep) {
      hidden = occupiedByOthers(origin_x + sight.ux * r, origin_y + sight.uy * r, line.root,
                                other_root, 1, &line.axis, kShadowClearance / quarter);
    }
    if (!hidden || seenBeyond(sight, origin_x, origin_y, line.root, other_root, quarter)) {
      return false;
    }
  }
  return true;
}

bool CloudCluster::seenBeyond(const SightLine& sight, double origin_x, double origin_y, int root_a,
                              int root_b, double quarter) {
  for (double r = sight.distance + kShadowClearance / quarter;
       r <= sight.distance + kSeenBeyond / quarter; r += kSightStep) {
    if (occupiedByOthers(origin_x + sight.ux * r, origin_y + sight.uy * r, root_a, root_b, 0)) {
      return true;
    }
  }
  return false;
}

bool CloudCluster::stretchSeenThrough(const ShadowLine& line, double from, double to,
                                      int other_root, double origin_x, double origin_y,
                                      double quarter) {
  // Lines of sight every half cell inside the stretch, and at least through its middle.
  const int steps = std::max(1, static_cast<int>(std::floor((to - from) / kSightStep)) - 1);
  for (int i = 1; i <= steps; ++i) {
    const SightLine sight = sightTo(line, from + (to - from) * i / (steps + 1), origin_x, origin_y);
    if (sight.distance * quarter < kShadowNearest + kShadowClearance ||
        seenBeyond(sight, origin_x, origin_y, line.root, other_root, quarter)) {
      return true;  // seen through, or too near the origin to tell
    }
  }
  return false;
}

bool CloudCluster::bridgeLineGaps(int cell_count, double step, double origin_x, double origin_y) {
  const double quarter = step / kSubCells;
  measurePartExtents(cell_count, step);
  // Moments of every part that may be a piece of a structure.
  const double shortest_piece = kShortestPiece / quarter;
  bool any_long = false;
  for (int c = 0; c < cell_count; ++c) {
    PartShape& shape = part_shape_[c];
    if (cell_parent_[c] == c) {
      any_long = any_long || shape.is_long;
      shape.needs_moments =
          std::hypot(static_cast<double>(shape.high_x - shape.low_x + 1),
                     static_cast<double>(shape.high_y - shape.low_y + 1)) >= shortest_piece;
    }
  }
  if (!any_long) {
    return false;
  }
  measurePartMoments(cell_count);
  shadow_lines_.clear();
  line_of_root_.assign(static_cast<std::size_t>(cell_count), -1);
  for (int c = 0; c < cell_count; ++c) {
    const PartShape& shape = part_shape_[c];
    if (cell_parent_[c] != c || !shape.is_long) {
      continue;
    }
    const PartAxis axis = shape.axis();
    if (axis.minor * quarter > kLineThickness) {
      continue;
    }
    ShadowLine line;
    line.root = c;
    line.axis = axis;
    line_of_root_[static_cast<std::size_t>(c)] = static_cast<int>(shadow_lines_.size());
    shadow_lines_.push_back(line);
  }
  if (shadow_lines_.empty()) {
    return false;
  }
  // Each line's ends along its own axis.
  for (int c = 0; c < cell_count; ++c) {
    const int index = line_of_root_[static_cast<std::size_t>(findRoot(c))];
    if (index < 0) {
      continue;
    }
    ShadowLine& line = shadow_lines_[static_cast<std::size_t>(index)];
    forEachQuarterCell(cell_column_[c], cell_row_[c], cell_mask_[c], [&](double cx, double cy) {
      const double t =
          (cx - line.axis.mean_x) * line.axis.dir_x + (cy - line.axis.mean_y) * line.axis.dir_y;
      line.low = std::min(line.low, t);
      line.high = std::max(line.high, t);
    });
  }
  // From each end of each line, the first cluster met along the line beyond it; all are judged
  // before any is joined, so the result does not depend on their order.
  const double sample = 0.5 * kSubCells;
  const double across = 0.5 * kSubCells;
  const double longest_gap = kMaxShadowGap / quarter;
  bridges_.clear();
  for (const ShadowLine& line : shadow_lines_) {
    for (const double outward : {1.0, -1.0}) {
      const double end = outward > 0.0 ? line.high : line.low;
      for (double gap = sample; gap <= longest_gap; gap += sample) {
        const double t = end + outward * gap;
        const double x = line.axis.mean_x + line.axis.dir_x * t;
        const double y = line.axis.mean_y + line.axis.dir_y * t;
        int met = -1;
        for (const double side : {0.0, across, -across}) {
          const int cell = cellAt(x - line.axis.dir_y * side, y + line.axis.dir_x * side);
          const int root = cell < 0 ? -1 : findRoot(cell);
          if (root >= 0 && root != line.root) {
            met = root;
            break;
          }
        }
        if (met < 0) {
          continue;
        }
        const double from = std::min(end, t);
        const double to = std::max(end, t);
        if (continuesLine(line, part_shape_[static_cast<std::size_t>(met)], quarter) &&
            (stretchHidden(line, from, to, met, origin_x, origin_y, quarter) ||
             (gap * quarter <= kMaxSamplingGap &&
              !stretchSeenThrough(line, from, to, met, origin_x, origin_y, quarter)))) {
          bridges_.emplace_back(line.root, met);
        }
        break;
      }
    }
  }
  bool joined = false;
  for (const auto& bridge : bridges_) {
    joined = findRoot(bridge.first) != findRoot(bridge.second) || joined;
    joinCells(bridge.first, bridge.second);
  }
  return joined;
}

void CloudCluster::obstacleCluster(PointCloudPtr cloud, int& count,
                                   std::vector<PointCloudPtr>& clusters) {
  count = 0;
  if (cloud == nullptr) {
    LOG_ERROR("obstacleCluster: input cloud pointer is null; no clusters");
    return;
  }
  const auto& points = cloud->points;
  const std::size_t n = points.size();
  if (n == 0) {
    return;
  }

  // Bounding box of the finite points fixes the grid origin and size.
  float min_x = std::numeric_limits<float>::max();
  float min_y = std::numeric_limits<float>::max();
  float max_x = std::numeric_limits<float>::lowest();
  float max_y = std::numeric_limits<float>::lowest();
  std::size_t non_finite = 0;
  for (const pcl::PointXYZ& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      ++non_finite;
      continue;
    }
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
  }
  if (non_finite > 0) {
    LOG_ERROR("obstacleCluster: skipped {} of {} points with a non-finite coordinate", non_finite,
              n);
  }
  if (non_finite == n) {
    return;
  }
  const double step = para_.cluster_grid_step;
  grid_columns_ = static_cast<std::int64_t>((static_cast<double>(max_x) - min_x) / step) + 1;
  grid_rows_ = static_cast<std::int64_t>((static_cast<double>(max_y) - min_y) / step) + 1;
  if (grid_columns_ >= (std::int64_t{1} << 31) || grid_rows_ >= (std::int64_t{1} << 31)) {
    LOG_ERROR("obstacleCluster: cloud spans {} x {} m, too wide for {} m cells; no clusters",
              max_x - min_x, max_y - min_y, step);
    return;
  }
  use_dense_grid_ = grid_columns_ * grid_rows_ <= kMaxDenseCells;
  if (use_dense_grid_) {
    const auto cells = static_cast<std::size_t>(grid_columns_ * grid_rows_);
    if (dense_grid_.size() < cells) {
      dense_grid_.resize(cells, -1);
    }
  } else {
    sparse_grid_.clear();
  }

  // Number the occupied cells in order of first appearance.
  point_cell_.resize(n);
  cell_column_.clear();
  cell_row_.clear();
  cell_mask_.clear();
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ& p = points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      point_cell_[i] = -1;
      continue;
    }
    const std::int64_t quarter_x = quarterIndex(p.x, min_x, step);
    const std::int64_t quarter_y = quarterIndex(p.y, min_y, step);
    const std::int64_t column = quarter_x / kSubCells;
    const std::int64_t row = quarter_y / kSubCells;
    int* slot = nullptr;
    if (use_dense_grid_) {
      slot = &dense_grid_[static_cast<std::size_t>(column * grid_rows_ + row)];
    } else {
      slot = &sparse_grid_.emplace((column << kKeyShift) | row, -1).first->second;
    }
    if (*slot < 0) {
      *slot = static_cast<int>(cell_column_.size());
      cell_column_.push_back(column);
      cell_row_.push_back(row);
      cell_mask_.push_back(0);
    }
    point_cell_[i] = *slot;
    const auto sub_cell =
        static_cast<unsigned>((quarter_y % kSubCells) * kSubCells + (quarter_x % kSubCells));
    cell_mask_[*slot] |= static_cast<std::uint16_t>(1U << sub_cell);
  }

  // Join occupied cells within the kernel in two rounds. First those whose points lie within
  // reach * step of each other in both axes, measured on the sub-cells: the parts. Visiting half
  // of the neighbourhood suffices because the other half is visited from the neighbours.
  const int cell_count = static_cast<int>(cell_column_.size());
  cell_parent_.resize(cell_count);
  for (int c = 0; c < cell_count; ++c) {
    cell_parent_[c] = c;
  }
  deferred_pairs_.clear();
  const std::int64_t reach = kernel_reach_;
  for (int c = 0; c < cell_count; ++c) {
    for (std::int64_t dc = 0; dc <= reach; ++dc) {
      for (std::int64_t dr = -reach; dr <= reach; ++dr) {
        if (dc == 0 && dr <= 0) {
          continue;
        }
        const int neighbour = cellIdAt(cell_column_[c] + dc, cell_row_[c] + dr);
        if (neighbour < 0) {
          continue;
        }
        // At the kernel's edge in an axis, the neighbour's sub-cell must not lie farther out
        // than this cell's: reach whole cells plus a sub-cell offset of at most zero.
        const bool x_at_edge = dc == reach;
        const int y_side = dr == reach ? -1 : (dr == -reach ? 1 : 0);
        if ((!x_at_edge && y_side == 0) ||
            (reachableSubCells(cell_mask_[c], x_at_edge, y_side) & cell_mask_[neighbour]) != 0) {
          joinCells(c, neighbour);
        } else {
          deferred_pairs_.emplace_back(c, neighbour);
        }
      }
    }
  }
  // Then the pairs farther apart, by the shapes of their parts.
  if (!deferred_pairs_.empty()) {
    joinPartsByShape(cell_count, step);
  }
  // Then a person's legs, where the kernel joins neighbouring cells at all.
  if (kernel_reach_ > 0) {
    joinLegPieces(cell_count, step);
  }
  // Last, pieces of one structure cut apart by a shadow or sparse returns; the origin in quarter
  // cells.
  const double origin_x = -static_cast<double>(min_x) / step * kSubCells;
  const double origin_y = -static_cast<double>(min_y) / step * kSubCells;
  for (int round = 0; round < kBridgeRounds; ++round) {
    if (!bridgeLineGaps(cell_count, step, origin_x, origin_y)) {
      break;
    }
  }

  // Clusters are numbered by their first point; count their points.
  root_cluster_.assign(cell_count, -1);
  cluster_size_.clear();
  for (std::size_t i = 0; i < n; ++i) {
    if (point_cell_[i] < 0) {
      continue;
    }
    const int root = findRoot(point_cell_[i]);
    if (root_cluster_[root] < 0) {
      root_cluster_[root] = static_cast<int>(cluster_size_.size());
      cluster_size_.push_back(0);
    }
    point_cell_[i] = root_cluster_[root];
    ++cluster_size_[point_cell_[i]];
  }

  // Then what stands in front of a wall, out of it.
  if (kernel_reach_ > 0) {
    peelFromLines(*cloud, cell_count, step, min_x, min_y);
  }

  const std::size_t first_output = clusters.size();
  cluster_output_.assign(cluster_size_.size(), -1);
  for (std::size_t k = 0; k < cluster_size_.size(); ++k) {
    if (cluster_size_[k] < para_.cluster_grid_th) {
      continue;
    }
    cluster_output_[k] = static_cast<int>(clusters.size());
    auto cluster = std::make_shared<PointCloud>();
    cluster->points.reserve(static_cast<std::size_t>(cluster_size_[k]));
    clusters.push_back(cluster);
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (point_cell_[i] < 0) {
      continue;
    }
    const int output = cluster_output_[point_cell_[i]];
    if (output >= 0) {
      clusters[static_cast<std::size_t>(output)]->points.push_back(points[i]);
    }
  }
  for (std::size_t k = first_output; k < clusters.size(); ++k) {
    clusters[k]->width = static_cast<std::uint32_t>(clusters[k]->points.size());
    clusters[k]->height = 1;
    clusters[k]->is_dense = true;
  }
  count = static_cast<int>(clusters.size() - first_output);

  // Leave the dense grid all -1 for the next call, touching only the cells used.
  if (use_dense_grid_) {
    for (int c = 0; c < cell_count; ++c) {
      dense_grid_[static_cast<std::size_t>(cell_column_[c] * grid_rows_ + cell_row_[c])] = -1;
    }
  }
}

}  // namespace perception
}  // namespace norvel
