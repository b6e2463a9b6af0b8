#include "preprocess_implement_cpu.hpp"

#include <algorithm>
#include <utility>

namespace lidar_perception {
namespace trelvon {

PreProcessImplementCpu::PreProcessImplementCpu(int max_points_in, float height_offset_in,
                                               std::shared_ptr<PillarFeature> feature)
    : points(static_cast<std::size_t>(max_points_in) * 4),
      max_points(max_points_in),
      height_offset(height_offset_in),
      pillar_feature(std::move(feature)) {}

template <typename PointT, typename Fourth>
void PreProcessImplementCpu::Pack(const typename pcl::PointCloud<PointT>::Ptr& cloud,
                                  Fourth fourth) {
  // A missing cloud is encoded like an empty one: no pillars.
  const std::size_t available = cloud == nullptr ? 0 : cloud->points.size();
  const int n = static_cast<int>(std::min<std::size_t>(available, max_points));
  point_num = n;
  float* packed = points.data();
  for (int i = 0; i < n; ++i) {
    const PointT& point = cloud->points[i];
    packed[4 * i] = point.x;
    packed[4 * i + 1] = point.y;
    packed[4 * i + 2] = point.z + height_offset;
    packed[4 * i + 3] = fourth(point);
  }
  pillar_feature->Compute(packed, n);
}

void PreProcessImplementCpu::Forward(const pcl::PointCloud<pcl::PointXYZ>::Ptr& cloud) {
  Pack<pcl::PointXYZ>(cloud, [](const pcl::PointXYZ&) { return 0.0f; });
}

void PreProcessImplementCpu::Forward(const pcl::PointCloud<pcl::PointXYZI>::Ptr& cloud) {
  Pack<pcl::PointXYZI>(cloud, [](const pcl::PointXYZI& point) { return point.intensity; });
}

}  // namespace trelvon
}  // namespace lidar_perception
