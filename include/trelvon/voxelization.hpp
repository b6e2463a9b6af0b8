// The hard voxelization kernel: assigns points to a regular grid with fixed capacities.
#pragma once

#include <unsupported/Eigen/CXX11/Tensor>

#include <vector>

#include "trelvon/export.hpp"

namespace lidar_perception {
namespace voxelization {

template <typename T, int Rank>
using RowMajorTensorMap = Eigen::TensorMap<Eigen::Tensor<T, Rank, Eigen::RowMajor, long>>;

// Fills voxels [M, P, F_v], coors [M, NDim] (indices in reverse axis order: z, y, x) and
// num_points_per_voxel [M] from points [N, F_in], in first-come order. A point is dropped when
// one of its indices falls outside the grid (NaN and infinite coordinates included), when its
// voxel would be voxel number max_voxels or the capacity of the output tensors, or when its voxel
// already holds max_points points or as many as the tensors have slots. -1 for max_points or
// max_voxels means "limited by the tensors only". Every element of the three outputs is zeroed
// first. Returns the number of voxels filled.
//
// Throws std::invalid_argument when NDim is not 3, voxel_size or coors_range are too short, a
// voxel size is not positive, a grid extent is not positive, F_in exceeds F_v, or the coordinate
// tensor has fewer than NDim columns.
template <typename T, typename T_int>
TRELVON_EXPORT int hard_voxelize_cpu(
    const Eigen::TensorMap<const Eigen::Tensor<T, 2, Eigen::RowMajor, long>>& points,
    RowMajorTensorMap<T, 3>& voxels, RowMajorTensorMap<T_int, 2>& coors,
    RowMajorTensorMap<T_int, 1>& num_points_per_voxel, std::vector<float> voxel_size,
    std::vector<float> coors_range, int max_points, int max_voxels, int NDim);

}  // namespace voxelization
}  // namespace lidar_perception
