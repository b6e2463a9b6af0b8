// The pillar encoder: voxelizes packed points into pillars and writes each stored point's ten
// features (raw x, y, z, intensity; offsets from the pillar's point mean; offsets from the
// pillar's geometric centre).
//
// Owns its four output blocks (C heap, zero at creation, freed by the destructor) and a reused
// coordinate scratch array; all are sized once from the configuration and their addresses never
// change. Invariant after every Compute: rows beyond voxel_num and empty point slots are zero, and
// column 0 of every coors row is zero. One thread per instance.
#pragma once

#include <vector>

#include "c_heap_buffer.hpp"

namespace lidar_perception {
namespace trelvon {

class PillarFeature {
 public:
  // Number of floats per stored point that the encoding writes.
  static constexpr int kFeatureCount = 10;

  // Allocates the buffers for M pillars of P points of F features. Preconditions (checked by the
  // factory): M, P > 0, F == 10, three values in each range and size vector.
  PillarFeature(std::vector<float> min_range, std::vector<float> max_range,
                std::vector<float> voxel_size, int max_voxels, int max_points_per_voxel,
                int num_feature, bool legacy);

  // Encodes `n` packed points of 4 floats.
  void Compute(const float* points, int n);

  std::vector<float> min_range;
  std::vector<float> max_range;
  std::vector<float> voxel_size;
  int max_voxels;
  int max_points_per_voxel;
  int num_feature;
  bool legacy;
  CHeapBuffer<float> voxels;
  CHeapBuffer<int> num_points;
  CHeapBuffer<int> coors;
  CHeapBuffer<int> voxel_num;
  int voxels_size;
  int coors_size;

 private:
  // (z, y, x) per pillar as the kernel writes them; reused by every pass.
  std::vector<int> grid_coors_;
};

}  // namespace trelvon
}  // namespace lidar_perception
