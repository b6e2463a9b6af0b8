// The pre-process stage: one point cloud in, the network's three input tensors out.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <yaml-cpp/yaml.h>

#include <memory>
#include <vector>

#include "trelvon/export.hpp"

namespace lidar_perception {
namespace trelvon {

// Packs a cloud into points of 4 floats and encodes them into pillars. The buffers behind the
// pointers are owned by the stage, sized once at creation, and overwritten by every Forward; the
// pointers stay valid for the stage's lifetime. One thread per instance.
class TRELVON_EXPORT PreProcess {
 public:
  // The fourth point value is 0.
  virtual void Forward(const pcl::PointCloud<pcl::PointXYZ>::Ptr& cloud) = 0;
  // The fourth point value is the intensity.
  virtual void Forward(const pcl::PointCloud<pcl::PointXYZI>::Ptr& cloud) = 0;
  // Packed points of the last pass, 4 floats each.
  virtual float* GetPoints() = 0;
  // Pillar features, float [max_voxels][max_points_per_voxel][num_feature].
  virtual void* GetVoxels() = 0;
  // Pillar coordinates, int32 [max_voxels][4]: (0, z, y, x index).
  virtual void* GetCoors() = 0;
  // One int32: pillars filled in the last pass.
  virtual void* GetVoxelNum() = 0;
  // Floats in use in the point buffer (points x 4).
  virtual int GetPointsSize() = 0;
  // max_voxels x max_points_per_voxel x num_feature.
  virtual int GetVoxelsSize() = 0;
  // max_voxels x 4.
  virtual int GetCoorsSize() = 0;
  // Always 4.
  virtual int GetPointFeatureNum() = 0;
  virtual ~PreProcess() = default;
};

// Grid arithmetic of the voxelization.
struct TRELVON_EXPORT VoxelizationParameter {
  // For x, y, z: roundf((upper - lower) / voxel_size) as int. Each argument holds 3 values;
  // throws std::invalid_argument otherwise.
  static std::vector<int> ComputeGridSize(const std::vector<float>& upper,
                                          const std::vector<float>& lower,
                                          const std::vector<float>& voxel_size);
};

// `use_gpu` false: CreatePreProcessCpu(node). True: logs "Not support gpu preprocess yet" and
// returns an empty pointer.
TRELVON_EXPORT std::shared_ptr<PreProcess> CreatePreProcess(const YAML::Node& node, bool use_gpu);

// Reads the `preprocess` section. Missing or ill-typed keys throw yaml-cpp's exceptions; values
// out of range (non-positive sizes and counts, num_feature other than 10, an empty range) log an
// error line naming the key and return an empty pointer.
TRELVON_EXPORT std::shared_ptr<PreProcess> CreatePreProcessCpu(const YAML::Node& node);

}  // namespace trelvon
}  // namespace lidar_perception
