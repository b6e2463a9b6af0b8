#include <norvel/perception/dynamic_cloud_detector.hpp>

#include "logger.hpp"

#include <Eigen/LU>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>
#include <utility>

namespace norvel {
namespace perception {

namespace {

constexpr float kDegToRad = 0.017453292519943295F;
// Depth images beyond this many pixels per side mean absurd settings (a pixel angle far below the
// lidar's resolution); Init refuses them.
constexpr int kMaxImageSide = 4096;
constexpr float kEmpty = std::numeric_limits<float>::infinity();
// A difference between two scans' translation smears shifts a return sideways by that much; seen
// from this distance it is turned into an angle. Nearer returns shift more, but near obstacles
// also cover more pixels, so their see-through edges stay a small share.
constexpr float kSmearReferenceDistance = 2.0F;
// Rows above and below an empty pixel that must be empty as well (or hold returns far behind
// the point) before its emptiness counts as free space: with the 3 x 3 neighbourhood of the
// rendered image this bridges holes up to 2 * (kHoleRows + 1) rows high between the lines of a
// sparse scan pattern, which the camera's projection stretches towards the image's sides.
constexpr int kHoleRows = 2;
// Horizontal distance from the sensor within which nothing but the robot itself stands: a ray's
// stretch above the height cut that stays this close cannot have passed an unseen occluder.
constexpr float kSensorClearance = 0.35F;
// Gaps in the scan pattern (see measureScanGaps): the share of in-row gaps above which an empty
// pixel is no evidence of free space, the decay of the counts per frame, and the samples needed
// before emptiness counts at all.
constexpr double kMaxGapShare = 0.05;
constexpr double kGapDecay = 0.95;
constexpr double kMinGapSamples = 200.0;
// Pixels of depth change, at the slope an earlier image shows around a place, that the depth
// margin allows for a surface seen at a slant (see slantAllowance): a point and the return nearest
// to its direction lie within one raw pixel of each other, within two when the raw pixel holds
// none and the 3 x 3 neighbourhood supplies it.
constexpr float kSlantPixels = 2.0F;
// Edge of the voxels whose points share one evidence (see DivideCloud): below a depth-image
// pixel at 1.7 m and beyond, and far below the depth margin.
constexpr float kEvidenceVoxel = 0.03F;
// Voxel coordinates are packed into 21 bits per axis, offset to be positive; points beyond this
// many metres (far outside any region of interest) are judged one by one.
constexpr std::int64_t kVoxelOffset = std::int64_t{1} << 20;
constexpr float kMaxVoxelCoordinate = 30000.0F;
// Elevation bins of the learned view: uniform in the tangent, kElevationBinsPerUnit per unit of
// tangent (about half a degree near the horizon), up to +-kMaxElevationTangent (76 degrees).
constexpr float kElevationBinsPerUnit = 100.0F;
constexpr float kMaxElevationTangent = 4.0F;
constexpr int kElevationBins =
    static_cast<int>(2.0F * kMaxElevationTangent * kElevationBinsPerUnit) + 1;
// Returns a bin needs before its elevation counts as covered by the sensor: a stray return (a
// reflection, a bird) must not open a band the sensor never looks at.
constexpr std::uint32_t kMinReturnsPerElevation = 20;
// Earlier frames that must have hidden a point before its gaps are read as a line: two points
// always make one.
constexpr int kMinRecessionFrames = 3;
// Compared frames whose hiding returns one point keeps for the reverse question; history_frames
// beyond it only loses the oldest of them from that question.
constexpr std::size_t kMaxComparedFrames = 32;
// The gap line of a thing walking away reaches zero within this many frames of now (its legs and
// arms make the nearest return jitter by a few centimetres); the line of a surface revealed by
// something moving past it reaches zero far in the future or not at all.
constexpr float kRecessionZeroAges = 2.0F;
// Gaps below this share of the depth margin are the jitter of a surface seen in place.
constexpr float kRecessionNoiseShare = 0.25F;

// A compared frame's age and the gap from the nearest return in front of a point to the point.
struct GapAt {
  float age;
  float gap;
};

// Least-squares line of gap against age.
struct RecessionLine {
  bool valid{false};
  float slope{0.0F};
  float intercept{0.0F};
  float squared_errors{0.0F};
};

// The line from its sums over `n` frames: of the ages, their squares, the gaps, ages times gaps
// and the gaps' squares.
RecessionLine recessionLine(float n, float sum_age, float sum_age2, float sum_gap,
                            float sum_age_gap, float sum_gap2) {
  RecessionLine line;
  const float denominator = n * sum_age2 - sum_age * sum_age;
  if (!(denominator > 0.0F)) {
    return line;
  }
  line.valid = true;
  line.slope = (n * sum_age_gap - sum_age * sum_gap) / denominator;
  line.intercept = (sum_gap - line.slope * sum_age) / n;
  line.squared_errors =
      std::max(0.0F, sum_gap2 - line.intercept * sum_gap - line.slope * sum_age_gap);
  return line;
}

RecessionLine fitRecessionLine(const GapAt* gaps, std::size_t count) {
  float sum_age = 0.0F;
  float sum_gap = 0.0F;
  float sum_age2 = 0.0F;
  float sum_age_gap = 0.0F;
  float sum_gap2 = 0.0F;
  for (std::size_t i = 0; i < count; ++i) {
    const float age = gaps[i].age;
    const float gap = gaps[i].gap;
    sum_age += age;
    sum_gap += gap;
    sum_age2 += age * age;
    sum_age_gap += age * gap;
    sum_gap2 += gap * gap;
  }
  return recessionLine(static_cast<float>(count), sum_age, sum_age2, sum_gap, sum_age_gap,
                       sum_gap2);
}

bool allFinite(const Eigen::Matrix4f& m) {
  return m.allFinite();
}

DynamicCloudDetectorConfig loadOrThrow(const std::string& yaml_path) {
  try {
    return DynamicCloudDetectorConfig::load(yaml_path);
  } catch (const std::exception& e) {
    LOG_ERROR("DynamicCloudDetector: {}", e.what());
    throw;
  }
}

}  // namespace

DynamicCloudDetector::DynamicCloudDetector(std::string yaml_path)
    : yaml_path_(std::move(yaml_path)), config_(loadOrThrow(yaml_path_)) {}

DynamicCloudDetector::DynamicCloudDetector(std::string yaml_path,
                                           const DynamicCloudDetectorConfig::NodeLimits& limits)
    : DynamicCloudDetector(std::move(yaml_path)) {
  config_.applyNodeLimits(limits);
}

bool DynamicCloudDetector::Init(const CameraInfo& camera) {
  initialized_ = false;
  camera_index_ = camera.camera_index;
  const float fx = camera.intrinsics(0, 0);
  const float fy = camera.intrinsics(1, 1);
  const float cx = camera.intrinsics(0, 2);
  const float cy = camera.intrinsics(1, 2);
  if (camera.width <= 0 || camera.height <= 0) {
    LOG_ERROR("DynamicCloudDetector::Init: camera {} has image size {} x {}, need both > 0",
              camera.camera_index, camera.width, camera.height);
    return false;
  }
  if (!camera.intrinsics.allFinite() || !(fx > 0.0F) || !(fy > 0.0F)) {
    LOG_ERROR(
        "DynamicCloudDetector::Init: camera {} has unusable intrinsics fx {} fy {} cx {} cy {}",
        camera.camera_index, fx, fy, cx, cy);
    return false;
  }
  if (!allFinite(camera.camera_to_base)) {
    LOG_ERROR("DynamicCloudDetector::Init: camera {} has a non-finite camera-to-base transform",
              camera.camera_index);
    return false;
  }
  const float focal = 1.0F / std::tan(config_.pixel_angle_deg * kDegToRad);
  const float scale_x = focal / fx;
  const float scale_y = focal / fy;
  const double width = std::ceil(static_cast<double>(camera.width) * scale_x);
  const double height = std::ceil(static_cast<double>(camera.height) * scale_y);
  if (width > kMaxImageSide || height > kMaxImageSide) {
    LOG_ERROR(
        "DynamicCloudDetector::Init: camera {} would need a {} x {} depth image (limit {}); "
        "raise pixel_angle_deg",
        camera.camera_index, width, height, kMaxImageSide);
    return false;
  }
  image_width_ = std::max(1, static_cast<int>(width));
  image_height_ = std::max(1, static_cast<int>(height));
  fx_ = fx * scale_x;
  fy_ = fy * scale_y;
  cx_ = cx * scale_x;
  cy_ = cy * scale_y;
  tan_min_elevation_ = std::tan(config_.sensor_min_elevation_deg * kDegToRad);
  tan_max_elevation_ = std::tan(config_.sensor_max_elevation_deg * kDegToRad);
  base_to_camera_ = camera.camera_to_base.inverse();
  camera_up_z_ = camera.camera_to_base(2, 1);
  sensor_position_ = camera.camera_to_base.topRightCorner<3, 1>();
  elevation_counts_.assign(kElevationBins, 0);
  scan_pixels_between_ = 0.0;
  scan_gaps_ = 0.0;
  emptiness_is_evidence_ = false;
  judged_tan_min_ = 1.0F;
  judged_tan_max_ = -1.0F;

  // One slot more than the compared history: the newest frame is stored while the oldest of the
  // others is still being compared against.
  const std::size_t pixels = static_cast<std::size_t>(image_width_) * image_height_;
  history_.assign(static_cast<std::size_t>(config_.history_frames) + 1, HistoryFrame{});
  for (HistoryFrame& frame : history_) {
    frame.nearest_depth.assign(pixels, kEmpty);
    frame.floor_depth.assign(pixels, kEmpty);
  }
  raw_depth_.assign(pixels, kEmpty);
  row_min_.assign(pixels, kEmpty);
  current_to_camera_.reserve(history_.size());
  current_to_old_base_.reserve(history_.size());
  compared_frames_.reserve(history_.size());
  compared_age_.reserve(history_.size());
  old_to_current_camera_.reserve(history_.size());
  compared_depth_.reserve(history_.size());
  compared_roi_margin_.reserve(history_.size());
  compared_roi_margin_per_metre_.reserve(history_.size());
  compared_other_spread_.reserve(history_.size());
  widened_depth_.assign(history_.size(), std::vector<float>(pixels, kEmpty));
  widened_for_.assign(history_.size(), WidenedFor{});
  block_runs_.assign(2 * static_cast<std::size_t>(image_width_), kEmpty);
  window_first_.assign(static_cast<std::size_t>(image_width_), 0);
  window_second_.assign(static_cast<std::size_t>(image_width_), 0);
  next_slot_ = 0;
  frames_seen_ = 0;
  has_previous_pose_ = false;
  ClusterMotionTracker::Settings track_settings;
  track_settings.min_step = config_.track_min_step;
  track_settings.window = config_.track_window;
  track_settings.max_radius = config_.track_max_radius;
  tracker_ = ClusterMotionTracker(track_settings);
  initialized_ = true;
  LOG_INFO("DynamicCloudDetector::Init: camera {} depth image {} x {} pixels, {} history frames",
           camera.camera_index, image_width_, image_height_, config_.history_frames);
  return true;
}

void DynamicCloudDetector::projectNearest(const pcl::PointCloud<pcl::PointXYZ>& cloud,
                                          bool count_elevations) {
  std::fill(raw_depth_.begin(), raw_depth_.end(), kEmpty);
  const Eigen::Matrix3f rotation = base_to_camera_.topLeftCorner<3, 3>();
  const Eigen::Vector3f translation = base_to_camera_.topRightCorner<3, 1>();
  for (const pcl::PointXYZ& p : cloud.points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      continue;
    }
    const Eigen::Vector3f q = rotation * Eigen::Vector3f(p.x, p.y, p.z) + translation;
    int pixel = 0;
    if (projectToPixel(q, pixel)) {
      raw_depth_[pixel] = std::min(raw_depth_[pixel], q.norm());
      if (count_elevations) {
        recordElevation(q.y() / std::sqrt(q.x() * q.x() + q.z() * q.z()));
      }
    }
  }
}

void DynamicCloudDetector::spreadNearest(std::vector<float>& image) {
  // Each pixel keeps the nearest return of its 3x3 neighbourhood, so that a thin structure or a
  // sparse scan does not leave a see-through gap next to where something was seen. The minimum
  // is separable: across each row first, then down the columns, each loop free of dependencies
  // between pixels so that it vectorises.
  const int w = image_width_;
  const int h = image_height_;
  for (int v = 0; v < h; ++v) {
    const float* in = &raw_depth_[static_cast<std::size_t>(v) * w];
    float* out = &row_min_[static_cast<std::size_t>(v) * w];
    if (w == 1) {
      out[0] = in[0];
      continue;
    }
    out[0] = std::min(in[0], in[1]);
    for (int u = 1; u + 1 < w; ++u) {
      out[u] = std::min(std::min(in[u - 1], in[u]), in[u + 1]);
    }
    out[w - 1] = std::min(in[w - 2], in[w - 1]);
  }
  for (int v = 0; v < h; ++v) {
    const float* above = &row_min_[static_cast<std::size_t>(std::max(0, v - 1)) * w];
    const float* row = &row_min_[static_cast<std::size_t>(v) * w];
    const float* below = &row_min_[static_cast<std::size_t>(std::min(h - 1, v + 1)) * w];
    float* out = &image[static_cast<std::size_t>(v) * w];
    for (int u = 0; u < w; ++u) {
      out[u] = std::min(std::min(above[u], row[u]), below[u]);
    }
  }
}

void DynamicCloudDetector::recordElevation(float tan_elevation) {
  const float clamped =
      std::max(-kMaxElevationTangent, std::min(kMaxElevationTangent, tan_elevation));
  std::uint32_t& count = elevation_counts_[static_cast<std::size_t>(
      (clamped + kMaxElevationTangent) * kElevationBinsPerUnit + 0.5F)];
  count += count < std::numeric_limits<std::uint32_t>::max() ? 1U : 0U;
}

void DynamicCloudDetector::measureScanGaps() {
  // Pixels between two returns of the same row: empty ones are gaps in the scan pattern. A
  // spinning lidar sweeps its rows continuously, so along a row gaps are rare (its gaps lie
  // between rows, which the hole test bridges); a non-repeating pattern leaves patches anywhere.
  std::uint64_t between = 0;
  std::uint64_t gaps = 0;
  for (int v = 0; v < image_height_; ++v) {
    const float* row = &raw_depth_[static_cast<std::size_t>(v) * image_width_];
    for (int u = 1; u + 1 < image_width_; ++u) {
      if (row[u - 1] != kEmpty && row[u + 1] != kEmpty) {
        ++between;
        gaps += row[u] == kEmpty ? 1 : 0;
      }
    }
  }
  // Counts decay by kGapDecay per frame (a memory of about 20 frames), so the estimate follows
  // the sensor without flickering with one frame's content.
  scan_pixels_between_ = scan_pixels_between_ * kGapDecay + static_cast<double>(between);
  scan_gaps_ = scan_gaps_ * kGapDecay + static_cast<double>(gaps);
  emptiness_is_evidence_ =
      scan_pixels_between_ >= kMinGapSamples && scan_gaps_ <= kMaxGapShare * scan_pixels_between_;
}

void DynamicCloudDetector::updateObservedView() {
  int lowest = 0;
  while (lowest < kElevationBins && elevation_counts_[lowest] < kMinReturnsPerElevation) {
    ++lowest;
  }
  int highest = kElevationBins - 1;
  while (highest > lowest && elevation_counts_[highest] < kMinReturnsPerElevation) {
    --highest;
  }
  if (lowest >= kElevationBins) {
    judged_tan_min_ = 1.0F;
    judged_tan_max_ = -1.0F;
    return;
  }
  // Half a bin beyond the outermost covered bins: their returns spread over the whole bin.
  const float half_bin = 0.5F / kElevationBinsPerUnit;
  judged_tan_min_ = std::max(tan_min_elevation_,
                             lowest / kElevationBinsPerUnit - kMaxElevationTangent - half_bin);
  judged_tan_max_ = std::min(tan_max_elevation_,
                             highest / kElevationBinsPerUnit - kMaxElevationTangent + half_bin);
}

void DynamicCloudDetector::horizontalMin(const std::vector<float>& in, int radius,
                                         std::vector<float>& out) {
  // Running minimum over blocks of the window's length (van Herk / Gil-Werman): every window
  // spans at most two blocks, so each pixel costs a constant number of comparisons whatever the
  // radius. Each row's block runs go into one buffer, suffixes (to the end of their block) then
  // prefixes (from its start), and every window is the minimum of two of its entries; which two
  // depends on the column only, so it is worked out once per image rather than per pixel.
  const int w = image_width_;
  const int k = 2 * radius + 1;
  const auto width = static_cast<std::size_t>(w);
  for (int u = 0; u < w; ++u) {
    const int a = std::max(0, u - radius);
    const int b = std::min(w - 1, u + radius);
    int first = a;       // the suffix from a
    int second = w + b;  // the prefix up to b
    if (a / k == b / k) {
      // One block, clipped at an image edge: the run that starts or ends with the window.
      first = second = (a % k == 0) ? w + b : a;
    }
    window_first_[static_cast<std::size_t>(u)] = first;
    window_second_[static_cast<std::size_t>(u)] = second;
  }
  float* suffix = block_runs_.data();
  float* prefix = block_runs_.data() + width;
  for (int v = 0; v < image_height_; ++v) {
    const float* row = &in[static_cast<std::size_t>(v) * width];
    float* target = &out[static_cast<std::size_t>(v) * width];
    for (int start = 0; start < w; start += k) {
      const int last = std::min(start + k, w) - 1;
      prefix[start] = row[start];
      for (int u = start + 1; u <= last; ++u) {
        prefix[u] = std::min(prefix[u - 1], row[u]);
      }
      suffix[last] = row[last];
      for (int u = last - 1; u >= start; --u) {
        suffix[u] = std::min(suffix[u + 1], row[u]);
      }
    }
    for (std::size_t u = 0; u < width; ++u) {
      target[u] = std::min(block_runs_[static_cast<std::size_t>(window_first_[u])],
                           block_runs_[static_cast<std::size_t>(window_second_[u])]);
    }
  }
}

void DynamicCloudDetector::Update(pcl::PointCloud<pcl::PointXYZ>::ConstPtr cloud,
                                  const Eigen::Matrix4f& T_base2map, bool flag,
                                  pcl::PointCloud<pcl::PointXYZ>::ConstPtr floor) {
  if (!initialized_) {
    LOG_ERROR(
        "DynamicCloudDetector::Update: detector not initialised (Init failed or not "
        "called); frame ignored");
    return;
  }
  if (!allFinite(T_base2map)) {
    LOG_ERROR(
        "DynamicCloudDetector::Update: camera {} got a non-finite base-to-map pose; frame "
        "ignored",
        camera_index_);
    return;
  }
  if (flag) {
    for (HistoryFrame& frame : history_) {
      frame.sequence = 0;
    }
    has_previous_pose_ = false;
    tracker_.clear();
  }
  ++frames_seen_;
  const std::uint64_t now = frames_seen_;
  tracker_.beginFrame(now);

  // The lidar keeps turning and driving while it sweeps, and its points stay where they were
  // measured, so every scan is smeared by the robot's motion during it; the motion since the
  // previous update stands for that. Two scans smeared alike line up; where the robot started,
  // stopped or changed a turn in between, a static edge seen in one scan appears shifted
  // sideways in the other and the background beside it would look like free space. The
  // comparison therefore widens an earlier image in azimuth by the difference of the two smears
  // (horizontal only: the robot turns about its vertical axis), and moves the region-of-interest
  // edge inwards by both smears.
  float yaw_step = 0.0F;
  Eigen::Vector3f translation_step = Eigen::Vector3f::Zero();
  if (has_previous_pose_) {
    const Eigen::Matrix4f step = previous_base_to_map_.inverse() * T_base2map;
    yaw_step = std::atan2(step(1, 0), step(0, 0));
    translation_step = step.topRightCorner<3, 1>();
  }
  previous_base_to_map_ = T_base2map;
  has_previous_pose_ = true;
  const float pixel_angle = config_.pixel_angle_deg * kDegToRad;

  compared_frames_.clear();
  compared_age_.clear();
  old_to_current_camera_.clear();
  current_to_camera_.clear();
  current_to_old_base_.clear();
  compared_depth_.clear();
  compared_roi_margin_.clear();
  compared_roi_margin_per_metre_.clear();
  compared_other_spread_.clear();
  for (std::size_t slot_index = 0; slot_index < history_.size(); ++slot_index) {
    const HistoryFrame& frame = history_[slot_index];
    if (frame.sequence == 0 ||
        now - frame.sequence < static_cast<std::uint64_t>(config_.min_frame_age) ||
        now - frame.sequence > static_cast<std::uint64_t>(config_.history_frames)) {
      continue;
    }
    compared_frames_.push_back(&frame);
    compared_age_.push_back(static_cast<float>(now - frame.sequence));
    current_to_camera_.push_back(frame.map_to_camera * T_base2map);
    old_to_current_camera_.push_back(base_to_camera_ * current_to_camera_.back().inverse());
    current_to_old_base_.push_back(frame.map_to_base * T_base2map);
    const float mismatch =
        std::fabs(yaw_step - frame.yaw_step) +
        (translation_step - frame.translation_step).norm() / kSmearReferenceDistance;
    // The 3 x 3 neighbourhood of the rendered image already absorbs half a pixel.
    const int radius =
        std::min(image_width_, static_cast<int>(std::ceil(mismatch / pixel_angle - 0.5F)));
    // Another camera's points were taken at another time of the sweep than this camera's, up to
    // a whole sweep earlier or later: the smears may differ by up to the larger of the two, or by
    // their difference where the robot turned the other way.
    const float other_mismatch = std::max({std::fabs(yaw_step), std::fabs(frame.yaw_step),
                                           std::fabs(yaw_step - frame.yaw_step)}) +
                                 std::max({translation_step.norm(), frame.translation_step.norm(),
                                           (translation_step - frame.translation_step).norm()}) /
                                     kSmearReferenceDistance;
    const int other_radius =
        std::min(image_width_, static_cast<int>(std::ceil(other_mismatch / pixel_angle - 0.5F)));
    compared_other_spread_.push_back(std::max(0, other_radius - std::max(0, radius)));
    if (radius > 0) {
      // The same frame is often widened by the same amount for several updates in a row (the
      // robot keeps a changed turn for a while): the image is then still there.
      WidenedFor& widened_for = widened_for_[slot_index];
      if (widened_for.sequence != frame.sequence || widened_for.radius != radius) {
        horizontalMin(frame.nearest_depth, radius, widened_depth_[slot_index]);
        widened_for = WidenedFor{frame.sequence, radius};
      }
      compared_depth_.push_back(&widened_depth_[slot_index]);
    } else {
      compared_depth_.push_back(&frame.nearest_depth);
    }
    compared_roi_margin_.push_back(translation_step.norm() + frame.translation_step.norm());
    compared_roi_margin_per_metre_.push_back(std::fabs(yaw_step) + std::fabs(frame.yaw_step));
  }

  current_slot_ = next_slot_;
  HistoryFrame& slot = history_[next_slot_];
  next_slot_ = (next_slot_ + 1) % history_.size();
  slot.sequence = now;
  slot.yaw_step = yaw_step;
  slot.translation_step = translation_step;
  slot.map_to_base = T_base2map.inverse();
  slot.map_to_camera = base_to_camera_ * slot.map_to_base;
  if (cloud != nullptr) {
    projectNearest(*cloud, true);
    updateObservedView();
    measureScanGaps();
    spreadNearest(slot.nearest_depth);
  } else {
    std::fill(slot.nearest_depth.begin(), slot.nearest_depth.end(), kEmpty);
  }
  if (floor != nullptr) {
    projectNearest(*floor, false);
    spreadNearest(slot.floor_depth);
  } else {
    std::fill(slot.floor_depth.begin(), slot.floor_depth.end(), kEmpty);
  }
}

bool DynamicCloudDetector::nothingNearAround(const std::vector<float>& depth, int pixel,
                                             float beyond, float height, const Eigen::Vector3f& q,
                                             float horizontal, int half_width) const {
  // Rows whose rays, at the point's depth, pass outside the sensor's view, above the height cut
  // or under the floor (whose returns are removed as ground) are empty for that reason alone and
  // cannot vouch for the pixel. The window of rows asked slides away from them; where fewer rows
  // than the window lie inside all three, as at the edge of a high or flipped mount's view, an
  // empty pixel cannot be told from a gap.
  const float metres_per_row = q.z() / fy_;
  float band_first = (judged_tan_min_ * horizontal - q.y()) / metres_per_row;
  float band_last = (judged_tan_max_ * horizontal - q.y()) / metres_per_row;
  const float height_per_row = camera_up_z_ * metres_per_row;
  if (std::fabs(height_per_row) > 1e-6F) {
    const float a = -height / height_per_row;
    const float b = (config_.roi_z_max - height) / height_per_row;
    band_first = std::max(band_first, std::min(a, b));
    band_last = std::min(band_last, std::max(a, b));
  }
  // One row inside each edge: the rendered image spreads every return over its 3 x 3 neighbours.
  const int first_allowed = static_cast<int>(std::ceil(band_first)) + 1;
  const int last_allowed = static_cast<int>(std::floor(band_last)) - 1;
  int first = -kHoleRows;
  int last = kHoleRows;
  if (last > last_allowed) {
    first -= last - last_allowed;
    last = last_allowed;
  }
  if (first < first_allowed) {
    last = std::min(last_allowed, last + (first_allowed - first));
    first = first_allowed;
  }
  if (last - first < 2 * kHoleRows) {
    return false;
  }
  return columnClear(depth, pixel, first, last, beyond, half_width);
}

bool DynamicCloudDetector::columnClear(const std::vector<float>& depth, int pixel, int first,
                                       int last, float beyond, int half_width) const {
  const int u = pixel % image_width_;
  const int v = pixel / image_width_;
  const int first_u = std::max(0, u - half_width);
  const int last_u = std::min(image_width_ - 1, u + half_width);
  for (int vv = std::max(0, v + first); vv <= std::min(image_height_ - 1, v + last); ++vv) {
    const float* row = &depth[static_cast<std::size_t>(vv) * image_width_];
    for (int uu = first_u; uu <= last_u; ++uu) {
      if (!(row[uu] > beyond)) {
        return false;
      }
    }
  }
  return true;
}

bool DynamicCloudDetector::floorSeenBeyond(std::size_t frame, int pixel, float beyond,
                                           int half_width) const {
  // The floor image is not widened for the smear (see Update): the widened obstacle image, which
  // must be empty around the pixel, already keeps static edges from passing for free space.
  const float floor = compared_frames_[frame]->floor_depth[static_cast<std::size_t>(pixel)];
  // The lines just above and below must not hold an obstacle at or before the point either (see
  // the return-behind case in evidenceFor).
  return floor != kEmpty && floor > beyond &&
         columnClear(*compared_depth_[frame], pixel, -1, 1, beyond, half_width);
}

bool DynamicCloudDetector::rayStaysInBand(const Eigen::Vector3f& point_in_base) const {
  const float sensor_height = sensor_position_.z();
  const float drop = sensor_height - point_in_base.z();
  if (sensor_height <= config_.roi_z_max || !(drop > 0.0F)) {
    return true;
  }
  // The ray leaves the kept band where it crosses the height cut, this far (horizontally) from
  // the sensor; up to there an occluder would leave no return the detector gets.
  const float horizontal = (point_in_base.head<2>() - sensor_position_.head<2>()).norm();
  const float above_cut = horizontal * (sensor_height - config_.roi_z_max) / drop;
  return above_cut <= kSensorClearance;
}

bool DynamicCloudDetector::vacatedNow(std::size_t frame, const Eigen::Vector3f& q, float distance,
                                      float nearest, float margin) const {
  const Eigen::Vector3f then = q * (nearest / distance);
  const Eigen::Vector3f now = (old_to_current_camera_[frame] * then.homogeneous()).head<3>();
  int pixel = 0;
  if (!projectToPixel(now, pixel)) {
    return false;
  }
  const float seen_now = history_[current_slot_].nearest_depth[static_cast<std::size_t>(pixel)];
  if (seen_now == kEmpty) {
    // Nothing but floor there now (if even that): only a floor return beyond the place shows the
    // ray passed through it.
    const float floor_now = history_[current_slot_].floor_depth[static_cast<std::size_t>(pixel)];
    return floor_now != kEmpty && floor_now > now.norm() + margin;
  }
  return seen_now > now.norm() + margin;
}

DynamicCloudDetector::Evidence DynamicCloudDetector::movesAway(
    const HiddenBy* hidden, std::size_t count, const HiddenBy* seen, std::size_t seen_count,
    bool ask_set_off, float oldest_seen_age) const {
  // Of the frames that hid the point, those whose hiding place the current frame sees through.
  const int needed = std::max(config_.min_free_votes, kMinRecessionFrames);
  std::array<GapAt, 2 * kMaxComparedFrames> gaps;
  std::size_t vacated = 0;
  float sum_margin = 0.0F;
  for (std::size_t h = 0; h < count; ++h) {
    if (static_cast<int>(vacated + (count - h)) < needed) {
      return Evidence::kUnknown;  // too few frames left to make the line
    }
    const HiddenBy& frame = hidden[h];
    if (!vacatedNow(frame.frame, frame.q, frame.distance, frame.nearest, frame.margin)) {
      continue;
    }
    gaps[vacated++] = GapAt{compared_age_[frame.frame], frame.distance - frame.nearest};
    sum_margin += frame.margin;
  }
  if (static_cast<int>(vacated) < needed) {
    return Evidence::kUnknown;
  }
  const float margin = sum_margin / static_cast<float>(vacated);
  // The gaps of a thing walking away grow along a line through about zero: steep enough, near the
  // origin and close to the line. Something that stood in front of a surface and stepped aside
  // leaves gaps of one length, a line without slope; the side of a body passing in front of a
  // surface hides it only in some of the frames the line expects.
  auto recedes = [&](const RecessionLine& line, std::size_t n_frames) {
    const float n = static_cast<float>(n_frames);
    return line.valid && line.slope >= config_.recession_min_step &&
           std::fabs(line.intercept) <= std::min(0.5F * margin, kRecessionZeroAges * line.slope) &&
           line.squared_errors <= 0.25F * n * margin * margin;
  };
  // Walking away through the whole window: no frame old enough for the line to put its gap beyond
  // the margin saw the point at its own depth.
  const RecessionLine straight = fitRecessionLine(gaps.data(), vacated);
  if (recedes(straight, vacated) && oldest_seen_age * straight.slope <= margin + straight.slope) {
    return Evidence::kMoved;
  }
  // Set off within the window: the frames that saw a return within the margin in front of the
  // point are all younger than the bend, which lies at the age of a hiding frame. None of them saw
  // the point's own surface (a surface revealed by someone walking off beside it, whose side hid
  // it a little less the younger the frame, was seen in place by the youngest frames), and the
  // current frame sees through the places of their returns, by half their gap (the side of a
  // still body that a moving viewpoint sweeps across the point is still there).
  if (!ask_set_off) {
    return Evidence::kUnknown;
  }
  for (std::size_t i = 0; i < seen_count; ++i) {
    gaps[vacated + i] = GapAt{compared_age_[seen[i].frame], seen[i].distance - seen[i].nearest};
  }
  const std::size_t all = vacated + seen_count;
  // By age; a handful of frames, so an insertion sort.
  for (std::size_t i = 1; i < all; ++i) {
    const GapAt frame = gaps[i];
    std::size_t j = i;
    for (; j > 0 && gaps[j - 1].age > frame.age; --j) {
      gaps[j] = gaps[j - 1];
    }
    gaps[j] = frame;
  }
  // The gap grows from each frame to the next up to the bend, by at least half the line's step
  // (checked below) and so by half the least step: the bend lies within that rising run, with at
  // least two frames before it. Occluders that stay put give no such run and cost no fit.
  std::size_t rising_end = 0;
  while (rising_end + 1 < all && gaps[rising_end + 1].gap - gaps[rising_end].gap >=
                                     0.5F * config_.recession_min_step *
                                         (gaps[rising_end + 1].age - gaps[rising_end].age)) {
    ++rising_end;
  }
  if (rising_end < 2) {
    return Evidence::kUnknown;
  }
  // Least-squares sums of the frames before each bend, so that each bend's line costs a few
  // operations: the frames from the bend on all sit at the bend's age.
  std::array<float, 2 * kMaxComparedFrames + 1> sum_age;
  std::array<float, 2 * kMaxComparedFrames + 1> sum_age2;
  std::array<float, 2 * kMaxComparedFrames + 1> sum_gap;
  std::array<float, 2 * kMaxComparedFrames + 1> sum_age_gap;
  sum_age[0] = sum_age2[0] = sum_gap[0] = sum_age_gap[0] = 0.0F;
  float sum_gap2 = 0.0F;
  for (std::size_t i = 0; i < all; ++i) {
    sum_age[i + 1] = sum_age[i] + gaps[i].age;
    sum_age2[i + 1] = sum_age2[i] + gaps[i].age * gaps[i].age;
    sum_gap[i + 1] = sum_gap[i] + gaps[i].gap;
    sum_age_gap[i + 1] = sum_age_gap[i] + gaps[i].age * gaps[i].gap;
    sum_gap2 += gaps[i].gap * gaps[i].gap;
  }
  const float n = static_cast<float>(all);
  for (std::size_t b = 2; b <= rising_end; ++b) {
    const float bend = gaps[b].age;
    if (!(bend > oldest_seen_age)) {
      continue;
    }
    const float held = static_cast<float>(all - b);
    const RecessionLine line =
        recessionLine(n, sum_age[b] + held * bend, sum_age2[b] + held * bend * bend, sum_gap[all],
                      sum_age_gap[b] + bend * (sum_gap[all] - sum_gap[b]), sum_gap2);
    // The bend adds a degree of freedom, which would let a line through the origin pass for the
    // one-frame jump of a surface revealed: every frame lies close to the bent line.
    bool bent = recedes(line, all);
    for (std::size_t i = 0; bent && i < all; ++i) {
      const float expected = line.intercept + line.slope * std::min(gaps[i].age, bend);
      bent = std::fabs(gaps[i].gap - expected) <= kRecessionNoiseShare * margin;
    }
    for (std::size_t i = 1; bent && i <= b; ++i) {
      bent = gaps[i].gap - gaps[i - 1].gap >= 0.5F * line.slope * (gaps[i].age - gaps[i - 1].age);
    }
    if (bent) {
      for (std::size_t i = 0; i < seen_count; ++i) {
        const HiddenBy& frame = seen[i];
        const float gap = frame.distance - frame.nearest;
        if (!vacatedNow(frame.frame, frame.q, frame.distance, frame.nearest, 0.5F * gap)) {
          return Evidence::kUnknown;
        }
      }
      return Evidence::kSetOff;
    }
  }
  return Evidence::kUnknown;
}

bool DynamicCloudDetector::isDynamic(const pcl::PointXYZ& point) const {
  const Evidence evidence = evidenceFor(point, false, currentSharing());
  return evidence == Evidence::kMoved || evidence == Evidence::kMovedByEmptiness;
}

void DynamicCloudDetector::ShareHistoryWith(
    const std::vector<std::shared_ptr<DynamicCloudDetector>>& others) {
  shared_with_.clear();
  for (const std::shared_ptr<DynamicCloudDetector>& other : others) {
    if (other != nullptr && other.get() != this) {
      shared_with_.emplace_back(other);
    }
  }
}

DynamicCloudDetector::Sharing DynamicCloudDetector::currentSharing() const {
  Sharing sharing;
  for (const std::weak_ptr<const DynamicCloudDetector>& weak : shared_with_) {
    std::shared_ptr<const DynamicCloudDetector> other = weak.lock();
    // Its compared frames are relative to its latest pose: only one updated with this frame can
    // judge this frame's points.
    if (other != nullptr && other->initialized_ && other->has_previous_pose_ &&
        has_previous_pose_ && other->frames_seen_ == frames_seen_ &&
        other->previous_base_to_map_ == previous_base_to_map_) {
      sharing.push_back(std::move(other));
    }
  }
  return sharing;
}

DynamicCloudDetector::FrameVote DynamicCloudDetector::sharedVote(const Sharing& sharing, float age,
                                                                 const Eigen::Vector4f& p) {
  for (const std::shared_ptr<const DynamicCloudDetector>& other : sharing) {
    const std::vector<float>& ages = other->compared_age_;
    for (std::size_t k = 0; k < ages.size(); ++k) {
      if (ages[k] == age) {
        const FrameVote vote = other->voteOf(k, p, true);
        if (vote.kind != FrameVote::Kind::kOutOfView) {
          return vote;
        }
        break;
      }
    }
  }
  return FrameVote{};
}

// The per-metre part of the depth margin allows for a surface seen at a slant, whose returns
// around one direction spread in depth. How far they spread, the image itself shows: the depth
// change from the pixel to its four neighbours. A surface facing the sensor (a person's front)
// changes little from pixel to pixel and needs little allowance; a wall seen at a grazing angle,
// an edge next to the background, an empty pixel or neighbour, or the image's border give an
// infinite one (the caller's full margin then stands).
float DynamicCloudDetector::slantAllowance(const std::vector<float>& depth, int pixel) const {
  const int u = pixel % image_width_;
  if (u == 0 || u + 1 == image_width_ || pixel < image_width_ ||
      pixel + image_width_ >= static_cast<int>(depth.size())) {
    return kEmpty;
  }
  const float* at = &depth[static_cast<std::size_t>(pixel)];
  const float centre = *at;
  const float change = std::max(
      std::max(std::fabs(at[-1] - centre), std::fabs(at[1] - centre)),
      std::max(std::fabs(at[-image_width_] - centre), std::fabs(at[image_width_] - centre)));
  // Infinite or undefined (an empty pixel among them): no allowance can be read off.
  return change < kEmpty ? kSlantPixels * change : kEmpty;
}

// Inlined into the per-point loop of evidenceFor, which runs for every point and compared frame;
// called there it costs a fifth more than the loop's own body.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline DynamicCloudDetector::FrameVote
DynamicCloudDetector::voteOf(std::size_t k, const Eigen::Vector4f& p, bool for_other) const {
  using Kind = FrameVote::Kind;
  FrameVote vote;
  const Eigen::Vector3f q = (current_to_camera_[k] * p).head<3>();
  int pixel = 0;
  if (!projectToPixel(q, pixel)) {
    return vote;  // outside that frame's view: no evidence
  }
  const std::vector<float>& depth = *compared_depth_[k];
  // Columns either side that stand for the same direction (see compared_other_spread_).
  const int half_width = for_other ? compared_other_spread_[k] : 0;
  float nearest = depth[static_cast<std::size_t>(pixel)];
  if (half_width > 0) {
    const int u = pixel % image_width_;
    const float* row = &depth[static_cast<std::size_t>(pixel - u)];
    for (int uu = std::max(0, u - half_width); uu <= std::min(image_width_ - 1, u + half_width);
         ++uu) {
      nearest = std::min(nearest, row[uu]);
    }
  }
  const float distance = q.norm();
  const float free_beyond =
      distance + config_.depth_margin + config_.depth_margin_per_metre * distance;
  vote.by = HiddenBy{k, q, distance, nearest, free_beyond - distance};
  if (nearest == kEmpty && floorSeenBeyond(k, pixel, free_beyond, half_width)) {
    // The rays around that direction reached the floor behind the point: nothing stood there.
    // Unlike an empty pixel this holds wherever the rays ran (across the space above the height
    // cut, at the edge of a high or flipped mount's view), but a patchy pattern may have missed a
    // thin thing there as easily, so such a sensor's floor votes are weighed like its empty
    // pixels.
    vote.kind = emptiness_is_evidence_ ? Kind::kFree : Kind::kEmpty;
    return vote;
  }
  if (nearest == kEmpty) {
    // Nothing seen around that direction: free space only if the sensor looked there and the
    // place lay inside the region that frame kept. A sparse or non-repeating scan pattern leaves
    // holes between its lines, so the pixels just above and below must not hold a return at or
    // before the point's depth either (returns far behind it, such as a wall whose upper part the
    // height cut removed, are fine). Sideways neighbours are not asked, beyond the columns that
    // stand for the same direction in another camera's frame: beside a walker's current place
    // lies its own earlier one.
    vote.kind = Kind::kNone;
    const float horizontal = std::sqrt(q.x() * q.x() + q.z() * q.z());
    if (!nothingNearAround(depth, pixel, free_beyond, p.z(), q, horizontal, half_width)) {
      return vote;
    }
    const bool in_view =
        q.y() >= judged_tan_min_ * horizontal && q.y() <= judged_tan_max_ * horizontal;
    const Eigen::Vector4f old_base = current_to_old_base_[k] * p;
    const float smear =
        compared_roi_margin_[k] + compared_roi_margin_per_metre_[k] * old_base.head<2>().norm();
    // No margin on the height cut: a level robot sees the same heights from every pose.
    const bool in_roi = std::fabs(old_base.x()) <= config_.roi_x_max - config_.roi_margin - smear &&
                        std::fabs(old_base.y()) <= config_.roi_y_max - config_.roi_margin - smear &&
                        old_base.z() <= config_.roi_z_max;
    if (in_view && in_roi && rayStaysInBand(old_base.head<3>())) {
      vote.kind = emptiness_is_evidence_ ? Kind::kFree : Kind::kEmpty;
    }
    return vote;
  }
  // A return behind the point is free space only when the lines just above and below saw nothing
  // at or before its depth either: between the lines of a sparse scan, the line that passed over
  // the top of a low object (or under a seat) reached the wall behind while the next one hit the
  // object where the point is now. One row either way reaches, through the rendering's 3 x 3
  // spread, every line within two raw rows.
  //
  // The per-metre part of the margin allows for a surface seen at a slant. Where the earlier
  // image shows a surface facing the sensor around that direction, a return behind the point by
  // the fixed margin and the small slope there already shows free space (see slantAllowance). Any
  // other return within the full margin still counts as the point's own surface below, and the
  // reverse question keeps the full margin.
  float free_from = free_beyond;
  const float fixed_beyond = distance + config_.depth_margin;
  if (nearest > fixed_beyond && nearest <= free_beyond) {
    free_from = fixed_beyond + slantAllowance(depth, pixel);
  }
  if (nearest > free_from && columnClear(depth, pixel, -1, 1, free_from, half_width)) {
    vote.kind = Kind::kFree;
    return vote;
  }
  // A return at the point's own depth: that frame saw the same surface there; a nearer one hid
  // the place.
  vote.kind = nearest >= 2.0F * distance - free_beyond ? Kind::kSeen : Kind::kHidden;
  return vote;
}

DynamicCloudDetector::Evidence DynamicCloudDetector::evidenceFor(const pcl::PointXYZ& point,
                                                                 bool ask_set_off,
                                                                 const Sharing& sharing) const {
  using Kind = FrameVote::Kind;
  if (compared_frames_.empty() || !std::isfinite(point.x) || !std::isfinite(point.y) ||
      !std::isfinite(point.z) || point.z < config_.min_point_height) {
    return Evidence::kStayed;
  }
  const Eigen::Vector4f p(point.x, point.y, point.z, 1.0F);
  int free_votes = 0;
  int empty_votes = 0;
  int seen_votes = 0;
  int hidden_votes = 0;
  // The frames that hid the point, kept for the reverse question below (asked only when enough
  // of them did: it costs a projection into the current image each). Only the first
  // hidden_count entries are ever read.
  std::array<HiddenBy, kMaxComparedFrames> hidden;
  std::size_t hidden_count = 0;
  // The frames that saw a return within the margin in front of it, and whether any saw the
  // point's own surface (see movesAway).
  std::array<HiddenBy, kMaxComparedFrames> seen_at;
  std::size_t seen_count = 0;
  bool seen_in_place = false;
  float oldest_seen_age = 0.0F;
  const bool recession = config_.recession_min_step > 0.0F;
  for (std::size_t k = 0; k < compared_frames_.size(); ++k) {
    FrameVote vote = voteOf(k, p, false);
    // The reverse question projects into this camera's images, so it takes this camera's frames
    // only; another camera's frame still votes.
    bool own = true;
    if (vote.kind == Kind::kOutOfView && !sharing.empty()) {
      vote = sharedVote(sharing, compared_age_[k], p);
      own = false;
    }
    switch (vote.kind) {
      case Kind::kOutOfView:
      case Kind::kNone:
        break;
      case Kind::kEmpty:
        ++empty_votes;  // weighed against the other frames below
        break;
      case Kind::kFree:
        if (++free_votes >= config_.min_free_votes) {
          return Evidence::kMoved;
        }
        break;
      case Kind::kSeen:
        ++seen_votes;
        if (!own) {
          break;
        }
        oldest_seen_age = std::max(oldest_seen_age, compared_age_[k]);
        if (vote.by.distance - vote.by.nearest <= kRecessionNoiseShare * vote.by.margin) {
          seen_in_place = true;
        } else if (recession && ask_set_off && seen_count < seen_at.size()) {
          seen_at[seen_count++] = vote.by;
        }
        break;
      case Kind::kHidden:
        ++hidden_votes;
        if (own && recession && hidden_count < hidden.size()) {
          hidden[hidden_count++] = vote.by;
        }
        break;
    }
  }
  // A pattern that leaves patches unscanned in every frame makes a static surface look empty in
  // some frames; it is still seen in most. Empty pixels of such a sensor count only where the
  // frames that saw through the place outnumber those that returned something there, at the
  // surface or in front of it: a wall hidden for a while by someone walking beside the robot,
  // close to the sensor, shows through the pattern's patches now and then, and those empty frames
  // are no evidence that anything stood where the wall is now.
  if (empty_votes > 0 && free_votes + empty_votes >= config_.min_free_votes &&
      free_votes + empty_votes > seen_votes + hidden_votes) {
    return Evidence::kMovedByEmptiness;
  }
  if (static_cast<int>(hidden_count) >= std::max(config_.min_free_votes, kMinRecessionFrames)) {
    const Evidence away = movesAway(hidden.data(), hidden_count, seen_at.data(), seen_count,
                                    ask_set_off && !seen_in_place, oldest_seen_age);
    if (away != Evidence::kUnknown) {
      return away;
    }
  }
  // Stayed when the surface was seen where it is now in enough frames and in at least as many
  // as hid it: something walking straight away was seen at nearly its depth by the youngest
  // frames only, and hidden (by itself) in the older ones.
  return seen_votes >= config_.min_free_votes && seen_votes >= hidden_votes ? Evidence::kStayed
                                                                            : Evidence::kUnknown;
}

void DynamicCloudDetector::DivideCloud(const pcl::PointCloud<pcl::PointXYZ>& cluster,
                                       pcl::PointCloud<pcl::PointXYZ>& dynamic,
                                       pcl::PointCloud<pcl::PointXYZ>& static_cloud) {
  // Only a body-sized cluster is followed, only in one does the emptiness a patchy sensor shows
  // through a place pass on to the points around it (see spreadMotion), and only in one does the
  // bent line of someone setting off count (so only there is it asked): on a wall, an empty patch
  // is far more likely a gap in the pattern than a place someone left.
  const ClusterShape shape = measureCluster(cluster);
  const Sharing sharing = currentSharing();
  const bool body_sized = (shape.high - shape.low).maxCoeff() <= 2.0F * config_.track_max_radius;
  const std::size_t n = cluster.points.size();
  evidence_.resize(n);
  // Points a few centimetres apart look through the same depth-image pixels of every compared
  // frame, so each small voxel's evidence is worked out once, for its first point; a dense
  // scan puts many points into one voxel.
  std::size_t slots = 16;
  int slot_bits = 4;
  while (slots < 2 * n) {
    slots *= 2;
    ++slot_bits;
  }
  voxel_keys_.assign(slots, 0);
  voxel_evidence_.resize(slots);
  const float inverse_voxel = 1.0F / kEvidenceVoxel;
  bool any_moved = false;
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ& p = cluster.points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z) ||
        std::fabs(p.x) > kMaxVoxelCoordinate || std::fabs(p.y) > kMaxVoxelCoordinate ||
        std::fabs(p.z) > kMaxVoxelCoordinate) {
      evidence_[i] = evidenceFor(p, body_sized, sharing);
      any_moved = any_moved || evidence_[i] == Evidence::kMoved;
      continue;
    }
    // 21 bits per axis after an offset keeps every key non-zero; 0 marks a free slot.
    // floor by truncation and a correction: exact in this range, and free of a library call
    // per axis and point.
    auto axis = [&](float v) {
      const float scaled = v * inverse_voxel;
      std::int64_t cell = static_cast<std::int64_t>(scaled);
      cell -= static_cast<float>(cell) > scaled ? 1 : 0;
      return static_cast<std::uint64_t>(cell + kVoxelOffset);
    };
    const std::uint64_t key = (axis(p.x) << 42) | (axis(p.y) << 21) | axis(p.z);
    // Fibonacci hashing: the product's top bits depend on every bit of the key (its low bits
    // would ignore the x coordinate, and a wall's points would share a probe chain).
    std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> (64 - slot_bits));
    while (voxel_keys_[slot] != 0 && voxel_keys_[slot] != key) {
      slot = (slot + 1) & (slots - 1);
    }
    if (voxel_keys_[slot] == 0) {
      voxel_keys_[slot] = key;
      voxel_evidence_[slot] = evidenceFor(p, body_sized, sharing);
    }
    evidence_[i] = voxel_evidence_[slot];
    any_moved = any_moved || evidence_[i] == Evidence::kMoved;
  }
  // A cluster that travels across the map moves as a body, also where its points' own evidence
  // is its earlier self (a walker's back seen where its front was): all of it is moved, but for
  // what is never dynamic (non-finite points, points below min_point_height).
  if (body_sized && config_.track_min_step > 0.0F && clusterTravels(cluster, shape)) {
    for (std::size_t i = 0; i < n; ++i) {
      const pcl::PointXYZ& p = cluster.points[i];
      if (std::isfinite(p.x) && std::isfinite(p.y) && p.z >= config_.min_point_height) {
        evidence_[i] = Evidence::kMoved;
      }
    }
    any_moved = false;  // nothing left to spread to
  } else if (body_sized) {
    for (Evidence& evidence : evidence_) {
      if (evidence == Evidence::kMovedByEmptiness || evidence == Evidence::kSetOff) {
        evidence = Evidence::kMoved;
        any_moved = true;
      }
    }
  }
  if (any_moved && config_.spread_radius > 0.0F) {
    spreadMotion(cluster);
  }
  dynamic.points.reserve(dynamic.points.size() + n);
  static_cloud.points.reserve(static_cloud.points.size() + n);
  for (std::size_t i = 0; i < n; ++i) {
    if (evidence_[i] == Evidence::kMoved || evidence_[i] == Evidence::kMovedByEmptiness) {
      dynamic.points.push_back(cluster.points[i]);
    } else {
      static_cloud.points.push_back(cluster.points[i]);
    }
  }
  dynamic.width = static_cast<std::uint32_t>(dynamic.points.size());
  dynamic.height = 1;
  static_cloud.width = static_cast<std::uint32_t>(static_cloud.points.size());
  static_cloud.height = 1;
}

DynamicCloudDetector::ClusterShape DynamicCloudDetector::measureCluster(
    const pcl::PointCloud<pcl::PointXYZ>& cluster) {
  ClusterShape shape;
  Eigen::Vector3f sum = Eigen::Vector3f::Zero();
  for (const pcl::PointXYZ& p : cluster.points) {
    if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) {
      sum += Eigen::Vector3f(p.x, p.y, p.z);
      shape.low = shape.low.cwiseMin(Eigen::Vector2f(p.x, p.y));
      shape.high = shape.high.cwiseMax(Eigen::Vector2f(p.x, p.y));
      ++shape.count;
    }
  }
  if (shape.count == 0) {
    shape.low = shape.high = Eigen::Vector2f::Zero();
  } else {
    shape.centroid = sum / static_cast<float>(shape.count);
  }
  return shape;
}

bool DynamicCloudDetector::clusterTravels(const pcl::PointCloud<pcl::PointXYZ>& cluster,
                                          const ClusterShape& shape) {
  // A cluster cut by the region's edge has a centre and sides that move with the cut. Only a
  // person-sized one whose near boundary stands clear of the edge is followed, by that boundary:
  // someone walking in from beyond the region. Anything larger, or lying along the edge (a wall
  // just at the region's border, seen in slivers), is not.
  const float x_edge = config_.roi_x_max - config_.roi_margin;
  const float y_edge = config_.roi_y_max - config_.roi_margin;
  if (!has_previous_pose_ || shape.count == 0) {
    return false;
  }
  const bool cut_far = std::max(std::fabs(shape.low.x()), std::fabs(shape.high.x())) > x_edge ||
                       std::max(std::fabs(shape.low.y()), std::fabs(shape.high.y())) > y_edge;
  constexpr float kNearSideClearance = 0.1F;
  auto clear_of_edge = [&](const pcl::PointXYZ& p) {
    return std::fabs(p.x) <= x_edge - kNearSideClearance &&
           std::fabs(p.y) <= y_edge - kNearSideClearance;
  };
  // One cut by both of the image's side edges (the camera's azimuth limits) never travels; its
  // track is kept so that no walker's track passes to it. One cut by a single side edge (someone
  // straddling the border to the neighbouring camera, which sees the rest) is followed by its side
  // away from the cut: the points farthest from the edge's plane through the sensor are the body's
  // own boundary, while the visible part's centre would move with the cut as the robot moves or
  // turns.
  const Eigen::Vector3f& centroid = shape.centroid;
  const Eigen::Matrix3f rotation = base_to_camera_.topLeftCorner<3, 3>();
  const Eigen::Vector3f translation = base_to_camera_.topRightCorner<3, 1>();
  const float width = static_cast<float>(image_width_);
  // Distance of a camera-frame point inside the image from the plane through the sensor and the
  // left (u = 0) or right (u = width) image edge.
  const float left_norm = std::hypot(fx_, cx_);
  const float right_norm = std::hypot(fx_, cx_ - width);
  auto from_left = [&](const Eigen::Vector3f& q) {
    return (fx_ * q.x() + cx_ * q.z()) / left_norm;
  };
  auto from_right = [&](const Eigen::Vector3f& q) {
    return -(fx_ * q.x() + (cx_ - width) * q.z()) / right_norm;
  };
  float radius_squared = 0.0F;
  bool cut_left = false;
  bool cut_right = false;
  float min_u = width;
  float max_u = 0.0F;
  float nearest_range = std::numeric_limits<float>::max();
  float farthest_from_left = std::numeric_limits<float>::lowest();
  float farthest_from_right = std::numeric_limits<float>::lowest();
  for (const pcl::PointXYZ& p : cluster.points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      continue;
    }
    const Eigen::Vector3f q = rotation * Eigen::Vector3f(p.x, p.y, p.z) + translation;
    if (!(q.z() > 0.0F)) {
      return false;
    }
    // Points on the image's border may land a rounding error outside it.
    const float u = fx_ * q.x() / q.z() + cx_;
    cut_left = cut_left || u < 2.0F;
    cut_right = cut_right || u >= width - 2.0F;
    min_u = std::min(min_u, u);
    max_u = std::max(max_u, u);
    nearest_range = std::min(nearest_range, q.norm());
    farthest_from_left = std::max(farthest_from_left, from_left(q));
    farthest_from_right = std::max(farthest_from_right, from_right(q));
    const float dx = p.x - centroid.x();
    const float dy = p.y - centroid.y();
    radius_squared = std::max(radius_squared, dx * dx + dy * dy);
  }
  if (cut_far &&
      radius_squared > ClusterMotionTracker::kPersonRadius * ClusterMotionTracker::kPersonRadius) {
    return false;
  }
  // Whether a return nearer than a point (by the depth margin) lies beside it in the image, in its
  // own column or up to kShadowColumns columns towards `step`. A cluster whose side borders one is
  // cut there by something in front of it (a walker passing behind a pillar, a passer-by's shadow
  // on a wall): its visible part ends where the occluder does and slides along with it, so it is
  // followed by its other side, as one cut by the image's edge, and not at all when both sides are
  // cut. Measured against the side's own point, not the cluster's nearest: a wall seen at a
  // slant is far nearer at one end than where a passer-by's shadow cuts its other. Only the
  // outermost points are asked, so the cluster's own nearer parts (a cart's near end) lie inward
  // of them, not beside them.
  constexpr int kShadowColumns = 3;
  const std::vector<float>& depth = history_[current_slot_].nearest_depth;
  auto bordered = [&](const Eigen::Vector3f& q, int step) {
    int pixel = 0;
    if (!projectToPixel(q, pixel)) {
      return false;
    }
    const float range = q.norm();
    const float nearer = range - config_.depth_margin - config_.depth_margin_per_metre * range;
    const int u = pixel % image_width_;
    for (int k = 0; k <= kShadowColumns; ++k) {
      const int uu = u + step * k;
      if (uu < 0 || uu >= image_width_) {
        break;
      }
      if (depth[static_cast<std::size_t>(pixel - u + uu)] < nearer) {
        return true;
      }
    }
    return false;
  };
  // One more pass over the points, now that the extremes are known. A side that borders
  // something nearer is cut there as by the image's edge: the points in the outermost column
  // either way tell. Each side's boundary is the mean of the points within a few centimetres of it
  // (against range noise), those farthest from the plane through the sensor and the opposite image
  // edge.
  constexpr float kSideDepth = 0.05F;
  Eigen::Vector3f left_sum = Eigen::Vector3f::Zero();
  Eigen::Vector3f right_sum = Eigen::Vector3f::Zero();
  Eigen::Vector3f near_sum = Eigen::Vector3f::Zero();
  int left_count = 0;
  int right_count = 0;
  int near_count = 0;
  bool near_side_clear = true;
  for (const pcl::PointXYZ& p : cluster.points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      continue;
    }
    const Eigen::Vector3f q = rotation * Eigen::Vector3f(p.x, p.y, p.z) + translation;
    const float u = fx_ * q.x() / q.z() + cx_;
    cut_left = cut_left || (u < min_u + 1.0F && bordered(q, -1));
    cut_right = cut_right || (u > max_u - 1.0F && bordered(q, 1));
    if (from_right(q) >= farthest_from_right - kSideDepth) {
      left_sum += Eigen::Vector3f(p.x, p.y, p.z);
      ++left_count;
    }
    if (from_left(q) >= farthest_from_left - kSideDepth) {
      right_sum += Eigen::Vector3f(p.x, p.y, p.z);
      ++right_count;
    }
    if (q.norm() <= nearest_range + kSideDepth) {
      near_sum += Eigen::Vector3f(p.x, p.y, p.z);
      ++near_count;
      near_side_clear = near_side_clear && clear_of_edge(p);
    }
  }
  if (cut_far && !near_side_clear) {
    return false;
  }
  auto in_map = [&](const Eigen::Vector3f& position) -> Eigen::Vector2f {
    return (previous_base_to_map_ * position.homogeneous()).head<2>();
  };
  ClusterMotionTracker::Observation observation;
  observation.at = {in_map(centroid), in_map(left_sum / static_cast<float>(left_count)),
                    in_map(right_sum / static_cast<float>(right_count))};
  observation.cut_left = cut_left;
  observation.cut_right = cut_right;
  observation.cut_far = cut_far;
  observation.has_near_side = near_side_clear && near_count > 0;
  if (observation.has_near_side) {
    observation.near_side = in_map(near_sum / static_cast<float>(near_count));
    observation.sight = (observation.near_side - in_map(sensor_position_)).normalized();
  }
  observation.radius = std::sqrt(radius_squared);
  // The motion since the previous update stands for the motion during this sweep (see Update);
  // the cluster's far side is the one it shifts most.
  const HistoryFrame& current = history_[current_slot_];
  const float farthest_range = nearest_range + 2.0F * observation.radius;
  observation.smear =
      std::fabs(current.yaw_step) * farthest_range + current.translation_step.head<2>().norm();
  return tracker_.observe(observation);
}

void DynamicCloudDetector::spreadMotion(const pcl::PointCloud<pcl::PointXYZ>& cluster) {
  // From every point called moved by its own evidence to the unknown points within spread_radius
  // of it, one step only. Growing on from those would run along structure that merely came into
  // view (a wall passed while driving) once a person walks next to it.
  //
  // The moved points are bucketed on a horizontal grid of half the radius: a cell's diagonal is
  // shorter than the radius, so an unknown point sharing a cell with a moved one is settled at
  // once, and the others look through the 5 x 5 cells around them until the first moved point in
  // reach. Dense clusters thus cost about one look-up per point.
  const float radius = config_.spread_radius;
  const float cell = 0.5F * radius;
  const float inverse_cell = 1.0F / cell;
  const std::size_t n = cluster.points.size();
  float min_x = std::numeric_limits<float>::max();
  float min_y = min_x;
  float max_x = std::numeric_limits<float>::lowest();
  float max_y = max_x;
  for (std::size_t i = 0; i < n; ++i) {
    if (evidence_[i] == Evidence::kStayed) {
      continue;  // moved and unknown points are finite
    }
    const pcl::PointXYZ& p = cluster.points[i];
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
  }
  const int columns = static_cast<int>((max_x - min_x) * inverse_cell) + 1;
  const int rows = static_cast<int>((max_y - min_y) * inverse_cell) + 1;
  auto cell_of = [&](const pcl::PointXYZ& p, int& column, int& row) {
    column = static_cast<int>((p.x - min_x) * inverse_cell);
    row = static_cast<int>((p.y - min_y) * inverse_cell);
  };
  // The moved points of each cell as a bucket list: first index per cell, next per point.
  spread_first_.assign(static_cast<std::size_t>(columns) * rows, -1);
  spread_next_.assign(n, -1);
  for (std::size_t i = 0; i < n; ++i) {
    if (evidence_[i] != Evidence::kMoved) {
      continue;
    }
    int column = 0;
    int row = 0;
    cell_of(cluster.points[i], column, row);
    const std::size_t c = static_cast<std::size_t>(row) * columns + column;
    spread_next_[i] = spread_first_[c];
    spread_first_[c] = static_cast<int>(i);
  }
  const float radius_squared = radius * radius;
  // Plain pointers: the evidence is written through a character type, which may alias anything,
  // so the vectors' buffers would otherwise be looked up again on every step of the search.
  const pcl::PointXYZ* const points = cluster.points.data();
  const int* const first_in_cell = spread_first_.data();
  const int* const next_in_cell = spread_next_.data();
  Evidence* const evidence = evidence_.data();
  for (std::size_t i = 0; i < n; ++i) {
    if (evidence[i] != Evidence::kUnknown) {
      continue;
    }
    const pcl::PointXYZ& p = points[i];
    int column = 0;
    int row = 0;
    cell_of(p, column, row);
    bool near_moved = first_in_cell[static_cast<std::size_t>(row) * columns + column] >= 0;
    for (int r = std::max(0, row - 2); !near_moved && r <= std::min(rows - 1, row + 2); ++r) {
      for (int c = std::max(0, column - 2); !near_moved && c <= std::min(columns - 1, column + 2);
           ++c) {
        for (int j = first_in_cell[static_cast<std::size_t>(r) * columns + c]; j >= 0;
             j = next_in_cell[static_cast<std::size_t>(j)]) {
          const pcl::PointXYZ& q = points[static_cast<std::size_t>(j)];
          const float dx = q.x - p.x;
          const float dy = q.y - p.y;
          if (dx * dx + dy * dy <= radius_squared) {
            near_moved = true;
            break;
          }
        }
      }
    }
    // Only the moved points of their own evidence are bucketed: one marked here passes nothing on.
    if (near_moved) {
      evidence[i] = Evidence::kMoved;
    }
  }
}

}  // namespace perception
}  // namespace norvel
