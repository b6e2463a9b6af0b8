#include "camera_frame.hpp"

#include "fast_atan2.hpp"

#include "logger.hpp"

#include <cmath>
#include <limits>
#include <map>

namespace {

constexpr float kPi = 3.14159265358979F;

int azimuthBinCount() {
  return static_cast<int>(std::ceil(2.0F * kPi / CameraFrame::kAzimuthBinRad));
}

}  // namespace

CameraFrame::CameraFrame(const Eigen::Matrix4f& T_lidar2base)
    : lidar_origin_(T_lidar2base.topRightCorner<3, 1>()),
      bin_nearest_sq_(static_cast<std::size_t>(azimuthBinCount()), 0.0F),
      bin_index_(static_cast<std::size_t>(azimuthBinCount()), 0) {
  contour_.reserve(bin_index_.size());
}

void CameraFrame::calculate(const pcl::PointCloud<pcl::PointXYZ>& cloud) {
  const int bins = static_cast<int>(bin_nearest_sq_.size());
  // The polynomial arc tangent is off by less than 1e-4 rad; only a point that close to a bin's
  // edge needs the exact one to land in the same bin as with std::atan2.
  constexpr float kEdgeMargin = 2e-4F / kAzimuthBinRad;
  std::lock_guard<std::mutex> lock(mutex_);
  std::fill(bin_nearest_sq_.begin(), bin_nearest_sq_.end(), std::numeric_limits<float>::infinity());
  for (std::size_t i = 0; i < cloud.points.size(); ++i) {
    const pcl::PointXYZ& p = cloud.points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z) ||
        p.z <= kMinObstacleHeight) {
      continue;
    }
    const float dx = p.x - lidar_origin_.x();
    const float dy = p.y - lidar_origin_.y();
    const float distance_sq = dx * dx + dy * dy;
    float position = (norvel::perception::detail::fastAtan2(dy, dx) + kPi) / kAzimuthBinRad;
    const float fraction = position - std::floor(position);
    if (fraction < kEdgeMargin || fraction > 1.0F - kEdgeMargin) {
      position = (std::atan2(dy, dx) + kPi) / kAzimuthBinRad;
    }
    const int bin = std::min(static_cast<int>(position), bins - 1);
    if (distance_sq < bin_nearest_sq_[bin]) {
      bin_nearest_sq_[bin] = distance_sq;
      bin_index_[bin] = i;
    }
  }
  contour_.clear();
  for (int bin = 0; bin < bins; ++bin) {
    if (std::isfinite(bin_nearest_sq_[bin])) {
      const pcl::PointXYZ& p = cloud.points[bin_index_[bin]];
      const float azimuth = std::atan2(p.y - lidar_origin_.y(), p.x - lidar_origin_.x());
      contour_.push_back(ContourPoint{p.x, p.y, p.z, azimuth});
    }
  }
}

void CameraFrame::fillShapeToMsg(corvanta_protocol::msg::SemanticPointCloud& msg) const {
  std::lock_guard<std::mutex> lock(mutex_);
  msg.shape.clear();
  msg.shape.reserve(contour_.size());
  for (const ContourPoint& c : contour_) {
    corvanta_protocol::msg::ShapePoint vertex;
    vertex.x = c.x;
    vertex.y = c.y;
    vertex.z = c.z;
    vertex.azimuth = c.azimuth;
    msg.shape.push_back(vertex);
  }
}

namespace {

// The registry's storage; the mutex guards the map.
struct CameraFrameRegistry {
  std::mutex mutex;
  std::map<int, std::shared_ptr<CameraFrame>> frames;
};

CameraFrameRegistry& registry() {
  static CameraFrameRegistry instance;
  return instance;
}

}  // namespace

std::shared_ptr<CameraFrame> CameraFrameInstance::get(int index) {
  CameraFrameRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto found = r.frames.find(index);
  return found == r.frames.end() ? nullptr : found->second;
}

bool CameraFrameInstance::load(int index, const Eigen::Matrix4f& T_lidar2base) {
  if (index < 0) {
    LOG_ERROR("CameraFrameInstance::load: camera index must be >= 0, got {}", index);
    return false;
  }
  if (!T_lidar2base.allFinite()) {
    LOG_ERROR("CameraFrameInstance::load: camera {}: lidar-to-base transform is not finite", index);
    return false;
  }
  CameraFrameRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.frames.count(index) != 0) {
    return false;
  }
  r.frames.emplace(index, std::make_shared<CameraFrame>(T_lidar2base));
  return true;
}
