#include "trelvon/voxelization.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <stdexcept>

namespace lidar_perception {
namespace voxelization {
namespace {

// Capacity that a limit of -1 ("unbounded") or a larger limit is clamped to: writes never go past
// the tensors the caller handed in.
long EffectiveLimit(int limit, long capacity) {
  if (limit == -1) {
    return capacity;
  }
  return std::max(0L, std::min(static_cast<long>(limit), capacity));
}

}  // namespace

template <typename T, typename T_int>
int hard_voxelize_cpu(
    const Eigen::TensorMap<const Eigen::Tensor<T, 2, Eigen::RowMajor, long>>& points,
    RowMajorTensorMap<T, 3>& voxels, RowMajorTensorMap<T_int, 2>& coors,
    RowMajorTensorMap<T_int, 1>& num_points_per_voxel, std::vector<float> voxel_size,
    std::vector<float> coors_range, int max_points, int max_voxels, int NDim) {
  // The index table below lays out exactly three axes.
  if (NDim != 3) {
    throw std::invalid_argument(fmt::format("hard_voxelize_cpu: NDim must be 3, got {}", NDim));
  }
  if (voxel_size.size() < 3 || coors_range.size() < 6) {
    throw std::invalid_argument(
        fmt::format("hard_voxelize_cpu: voxel_size needs 3 values and coors_range 6, got {} and {}",
                    voxel_size.size(), coors_range.size()));
  }
  const long in_features = points.dimension(1);
  if (in_features > voxels.dimension(2)) {
    throw std::invalid_argument(
        fmt::format("hard_voxelize_cpu: points carry {} features, voxels hold only {}", in_features,
                    voxels.dimension(2)));
  }
  if (coors.dimension(1) < NDim) {
    throw std::invalid_argument(
        fmt::format("hard_voxelize_cpu: coors has {} columns, needs {}", coors.dimension(1), NDim));
  }
  std::array<int, 3> grid_size{};
  for (int i = 0; i < 3; ++i) {
    if (!(voxel_size[i] > 0.0f)) {
      throw std::invalid_argument(
          fmt::format("hard_voxelize_cpu: voxel_size[{}] must be > 0, got {}", i, voxel_size[i]));
    }
    const float extent = roundf((coors_range[3 + i] - coors_range[i]) / voxel_size[i]);
    // Checked as a float: converting a value beyond int's range (or NaN) is undefined.
    if (!(extent >= 1.0f && extent <= static_cast<float>(INT_MAX / 2))) {
      throw std::invalid_argument(fmt::format(
          "hard_voxelize_cpu: grid extent on axis {} must be >= 1, got {} from range [{}, {}]", i,
          extent, coors_range[i], coors_range[3 + i]));
    }
    grid_size[i] = static_cast<int>(extent);
  }

  std::fill_n(voxels.data(), voxels.size(), T(0));
  std::fill_n(coors.data(), coors.size(), T_int(0));
  std::fill_n(num_points_per_voxel.data(), num_points_per_voxel.size(), T_int(0));

  // Cell (z, y, x) is at (z * grid_y + y) * grid_x + x.
  std::vector<int> table(static_cast<std::size_t>(grid_size[0]) * grid_size[1] * grid_size[2], -1);

  const long voxel_limit = EffectiveLimit(
      max_voxels,
      std::min({voxels.dimension(0), coors.dimension(0), num_points_per_voxel.dimension(0)}));
  const long point_limit = EffectiveLimit(max_points, voxels.dimension(1));
  const long num_points = points.dimension(0);
  const long slot_stride = voxels.dimension(2);
  const long voxel_stride = voxels.dimension(1) * slot_stride;
  const T* point = points.data();
  T* voxel_data = voxels.data();
  T_int* coor_data = coors.data();
  const long coor_stride = coors.dimension(1);
  T_int* counts = num_points_per_voxel.data();

  const float range[3] = {coors_range[0], coors_range[1], coors_range[2]};
  const float size[3] = {voxel_size[0], voxel_size[1], voxel_size[2]};
  const float grid_limit[3] = {static_cast<float>(grid_size[0]), static_cast<float>(grid_size[1]),
                               static_cast<float>(grid_size[2])};
  int voxel_num = 0;
  for (long i = 0; i < num_points; ++i, point += in_features) {
    std::array<int, 3> index{};  // x, y, z
    bool inside = true;
    for (int j = 0; j < 3; ++j) {
      // floor(q) < 0 exactly when q < 0 and floor(q) >= n exactly when q >= n for an integer n,
      // and truncation equals floor for q >= 0: the tests below are those on floor(q), without
      // the call. Negated so that NaN, which fails every comparison, is dropped too.
      const float cell = (point[j] - range[j]) / size[j];
      if (!(cell >= 0.0f) || cell >= grid_limit[j]) {
        inside = false;
        break;
      }
      index[j] = static_cast<int>(cell);
    }
    if (!inside) {
      continue;
    }
    int& entry =
        table[(static_cast<std::size_t>(index[2]) * grid_size[1] + index[1]) * grid_size[0] +
              index[0]];
    if (entry == -1) {
      if (voxel_num >= voxel_limit) {
        continue;
      }
      entry = voxel_num;
      T_int* coor = coor_data + voxel_num * coor_stride;
      coor[0] = index[2];
      coor[1] = index[1];
      coor[2] = index[0];
      ++voxel_num;
    }
    const T_int slot = counts[entry];
    if (slot < point_limit) {
      std::copy_n(point, in_features, voxel_data + entry * voxel_stride + slot * slot_stride);
      counts[entry] = slot + 1;
    }
  }
  return voxel_num;
}

template TRELVON_EXPORT int hard_voxelize_cpu<float, int>(
    const Eigen::TensorMap<const Eigen::Tensor<float, 2, Eigen::RowMajor, long>>& points,
    RowMajorTensorMap<float, 3>& voxels, RowMajorTensorMap<int, 2>& coors,
    RowMajorTensorMap<int, 1>& num_points_per_voxel, std::vector<float> voxel_size,
    std::vector<float> coors_range, int max_points, int max_voxels, int NDim);

}  // namespace voxelization
}  // namespace lidar_perception
