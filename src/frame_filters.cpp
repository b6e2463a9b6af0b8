#include "frame_filters.hpp"

#include <cmath>

namespace lidar_perception {

bool insideRegionOfInterest(const pcl::PointXYZ& p, const RegionOfInterest& roi) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
    return false;
  }
  if (p.z > roi.max_height || std::fabs(p.x) > roi.x_large || std::fabs(p.y) > roi.y_large) {
    return false;
  }
  const bool on_body = std::fabs(p.y) < roi.y_small && ((p.x > 0.0f && p.x < roi.x_small_front) ||
                                                        (p.x < 0.0f && p.x > roi.x_small_back));
  return !on_body;
}

void appendPointsInCamera(const pcl::PointCloud<pcl::PointXYZ>& in, const Eigen::Matrix4f& m,
                          const VirtualCameraParam& param, pcl::PointCloud<pcl::PointXYZ>& out) {
  const auto width = static_cast<float>(param.width);
  const auto height = static_cast<float>(param.height);
  for (const auto& p : in.points) {
    const float zc = m(2, 0) * p.x + m(2, 1) * p.y + m(2, 2) * p.z + m(2, 3);
    if (zc < 0.0f) {
      continue;
    }
    // Camera coordinates in float, the pinhole projection in double, the pixel in float.
    const float xc = m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2) * p.z + m(0, 3);
    const auto u = static_cast<float>(xc * param.fx / zc + param.cx);
    if (u < 0.0f || u > width) {
      continue;
    }
    const float yc = m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2) * p.z + m(1, 3);
    const auto v = static_cast<float>(yc * param.fy / zc + param.cy);
    if (v < 0.0f || v > height) {
      continue;
    }
    out.push_back(p);
  }
}

void appendPointsOutsideUpCone(const pcl::PointCloud<pcl::PointXYZ>& in,
                               const Eigen::Matrix4f& lidar2base, float threshold_deg,
                               pcl::PointCloud<pcl::PointXYZ>& out) {
  Eigen::Vector3f axis = lidar2base.block<3, 1>(0, 2);
  if (axis.squaredNorm() > 0.0f) {
    axis /= axis.norm();
  }
  const Eigen::Vector3f apex = lidar2base.block<3, 1>(0, 3);
  for (const auto& p : in.points) {
    Eigen::Vector3f d = p.getVector3fMap() - apex;
    if (d.squaredNorm() > 0.0f) {
      d /= d.norm();
    }
    const float c = d.z() * axis.z() + d.y() * axis.y() + d.x() * axis.x();
    const float theta = std::acos(c);
    const auto theta_deg =
        static_cast<float>(static_cast<double>(theta) * 180.0 / 3.141592653589793);
    // Strict: a point on the cone's surface is removed, and so is a NaN angle.
    if (theta_deg > threshold_deg) {
      out.push_back(p);
    }
  }
}

void sortClusterByDynamicShare(
    const std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>& cluster,
    const std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>& dynamic_part,
    const std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>& static_part, float dynamic_ratio,
    float static_ratio, std::vector<std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>>& dynamic_list,
    std::vector<std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>>& static_list) {
  const float ratio =
      static_cast<float>(dynamic_part->size()) / static_cast<float>(cluster->size());
  if (ratio > dynamic_ratio) {
    dynamic_list.push_back(cluster);
  } else if (ratio < static_ratio) {
    static_list.push_back(cluster);
  } else {
    dynamic_list.push_back(dynamic_part);
    static_list.push_back(static_part);
  }
}

}  // namespace lidar_perception
