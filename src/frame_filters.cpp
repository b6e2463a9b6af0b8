#include "frame_filters.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lidar_perception {

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
  // The angle off the axis exceeds the threshold exactly when its cosine is below the
  // threshold's: one comparison per point instead of an arc cosine. Angles lie in [0, 180]
  // degrees, so a threshold beyond that range keeps everything or nothing.
  if (!(threshold_deg < 180.0f)) {
    return;
  }
  const bool keep_all = threshold_deg < 0.0f;
  const auto cos_limit =
      static_cast<float>(std::cos(static_cast<double>(threshold_deg) * 3.141592653589793 / 180.0));
  for (const auto& p : in.points) {
    Eigen::Vector3f d = p.getVector3fMap() - apex;
    const float length_sq = d.squaredNorm();
    // The apex itself counts as 90 degrees off the axis; a non-finite point keeps a NaN cosine.
    float c = d.dot(axis) / std::sqrt(length_sq);
    if (length_sq == 0.0f) {
      c = 0.0f;
    }
    // Strict: a point on the cone's surface is removed, and so is a NaN angle.
    if (keep_all ? !std::isnan(c) : c < cos_limit) {
      out.push_back(p);
    }
  }
}

void transformCloud(const pcl::PointCloud<pcl::PointXYZ>& in, const Eigen::Matrix4f& transform,
                    pcl::PointCloud<pcl::PointXYZ>& out) {
  const Eigen::Matrix3f rotation = transform.topLeftCorner<3, 3>();
  const Eigen::Vector3f translation = transform.topRightCorner<3, 1>();
  out.header = in.header;
  out.is_dense = in.is_dense;
  out.sensor_origin_ = in.sensor_origin_;
  out.sensor_orientation_ = in.sensor_orientation_;
  // Each point written once: resize would first fill the whole cloud with default points.
  out.points.clear();
  out.points.reserve(in.points.size());
  for (const auto& p : in.points) {
    const Eigen::Vector3f q = rotation * p.getVector3fMap() + translation;
    out.points.emplace_back(q.x(), q.y(), q.z());
  }
  out.width = in.width;
  out.height = in.height;
}

void appendTransformedPointsInRegionOfInterest(const pcl::PointCloud<pcl::PointXYZ>& in,
                                               std::size_t begin, std::size_t end,
                                               const Eigen::Matrix4f& transform,
                                               const RegionOfInterest& roi,
                                               pcl::PointCloud<pcl::PointXYZ>& out) {
  const Eigen::Matrix3f rotation = transform.topLeftCorner<3, 3>();
  const Eigen::Vector3f translation = transform.topRightCorner<3, 1>();
  end = std::min(end, in.points.size());
  for (std::size_t i = begin; i < end; ++i) {
    const Eigen::Vector3f q = rotation * in.points[i].getVector3fMap() + translation;
    const pcl::PointXYZ moved(q.x(), q.y(), q.z());
    if (insideRegionOfInterest(moved, roi)) {
      out.points.push_back(moved);
    }
  }
  out.width = static_cast<std::uint32_t>(out.points.size());
  out.height = 1;
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
