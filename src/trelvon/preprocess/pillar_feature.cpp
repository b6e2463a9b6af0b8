#include "pillar_feature.hpp"

#include <utility>

#include "trelvon/voxelization.hpp"

namespace lidar_perception {
namespace trelvon {

PillarFeature::PillarFeature(std::vector<float> min_range_in, std::vector<float> max_range_in,
                             std::vector<float> voxel_size_in, int max_voxels_in,
                             int max_points_per_voxel_in, int num_feature_in, bool legacy_in)
    : min_range(std::move(min_range_in)),
      max_range(std::move(max_range_in)),
      voxel_size(std::move(voxel_size_in)),
      max_voxels(max_voxels_in),
      max_points_per_voxel(max_points_per_voxel_in),
      num_feature(num_feature_in),
      legacy(legacy_in),
      voxels(static_cast<std::size_t>(max_voxels) * max_points_per_voxel * num_feature),
      num_points(static_cast<std::size_t>(max_voxels)),
      coors(static_cast<std::size_t>(max_voxels) * 4),
      voxel_num(1),
      voxels_size(max_voxels * max_points_per_voxel * num_feature),
      coors_size(max_voxels * 4),
      grid_coors_(static_cast<std::size_t>(max_voxels) * 3, 0) {}

void PillarFeature::Compute(const float* points, int n) {
  using voxelization::RowMajorTensorMap;
  const Eigen::TensorMap<const Eigen::Tensor<float, 2, Eigen::RowMajor, long>> point_map(points, n,
                                                                                         4);
  RowMajorTensorMap<float, 3> voxel_map(voxels.data(), max_voxels, max_points_per_voxel,
                                        num_feature);
  RowMajorTensorMap<int, 2> coor_map(grid_coors_.data(), max_voxels, 3);
  RowMajorTensorMap<int, 1> count_map(num_points.data(), max_voxels);
  const std::vector<float> coors_range{min_range[0], min_range[1], min_range[2],
                                       max_range[0], max_range[1], max_range[2]};
  const int voxel_count = voxelization::hard_voxelize_cpu<float, int>(
      point_map, voxel_map, coor_map, count_map, voxel_size, coors_range, max_points_per_voxel,
      max_voxels, 3);

  for (int r = 0; r < max_voxels; ++r) {
    coors[4 * r + 1] = grid_coors_[3 * r];
    coors[4 * r + 2] = grid_coors_[3 * r + 1];
    coors[4 * r + 3] = grid_coors_[3 * r + 2];
  }

  const float vx = voxel_size[0];
  const float vy = voxel_size[1];
  const float vz = voxel_size[2];
  const int pillar_stride = max_points_per_voxel * num_feature;
  for (int v = 0; v < voxel_count; ++v) {
    const int count = num_points[v];
    if (count <= 0) {
      continue;
    }
    float* pillar = voxels.data() + static_cast<std::size_t>(v) * pillar_stride;
    float sum_x = 0.0f;
    float sum_y = 0.0f;
    float sum_z = 0.0f;
    for (int k = 0; k < count; ++k) {
      const float* point = pillar + k * num_feature;
      sum_x += point[0];
      sum_y += point[1];
      sum_z += point[2];
    }
    const float mean_x = sum_x / static_cast<float>(count);
    const float mean_y = sum_y / static_cast<float>(count);
    const float mean_z = sum_z / static_cast<float>(count);

    const int zi = grid_coors_[3 * v];
    const int yi = grid_coors_[3 * v + 1];
    const int xi = grid_coors_[3 * v + 2];
    const float centre_x = static_cast<float>(xi) * vx + (vx * 0.5f + min_range[0]);
    const float centre_y = static_cast<float>(yi) * vy + (vy * 0.5f + min_range[1]);
    const float centre_z = static_cast<float>(zi) * vz + (0.5f * vz + min_range[2]);

    for (int k = 0; k < count; ++k) {
      float* point = pillar + k * num_feature;
      point[4] = point[0] - mean_x;
      point[5] = point[1] - mean_y;
      point[6] = point[2] - mean_z;
      point[7] = point[0] - centre_x;
      point[8] = point[1] - centre_y;
      point[9] = point[2] - centre_z;
      if (legacy) {
        point[0] = point[7];
        point[1] = point[8];
        point[2] = point[9];
      }
    }
  }
  voxel_num[0] = voxel_count;
}

}  // namespace trelvon
}  // namespace lidar_perception
