// The CPU pre-process: packs up to max_points points of a cloud (z raised by height_offset) and
// hands them to the pillar encoder.
//
// Owns the packed point block (C heap, max_points x 4 floats, freed by the destructor) and the
// encoder; the pointers it returns stay valid for its lifetime and are overwritten by every
// Forward. One thread per instance.
#pragma once

#include <memory>

#include "c_heap_buffer.hpp"
#include "pillar_feature.hpp"
#include "trelvon/preprocess.hpp"

namespace lidar_perception {
namespace trelvon {

class PreProcessImplementCpu : public PreProcess {
 public:
  // Preconditions (checked by the factory): max_points > 0, `feature` not null.
  PreProcessImplementCpu(int max_points, float height_offset,
                         std::shared_ptr<PillarFeature> feature);

  void Forward(const pcl::PointCloud<pcl::PointXYZ>::Ptr& cloud) override;
  void Forward(const pcl::PointCloud<pcl::PointXYZI>::Ptr& cloud) override;
  float* GetPoints() override { return points.data(); }
  void* GetVoxels() override { return pillar_feature->voxels.data(); }
  void* GetCoors() override { return pillar_feature->coors.data(); }
  void* GetVoxelNum() override { return pillar_feature->voxel_num.data(); }
  int GetPointsSize() override { return point_num * 4; }
  int GetVoxelsSize() override { return pillar_feature->voxels_size; }
  int GetCoorsSize() override { return pillar_feature->coors_size; }
  int GetPointFeatureNum() override { return 4; }

  CHeapBuffer<float> points;
  int point_num{0};
  int max_points;
  float height_offset;
  std::shared_ptr<PillarFeature> pillar_feature;

 private:
  // Packs the first min(size, max_points) points; `fourth` gives each point's fourth value.
  template <typename PointT, typename Fourth>
  void Pack(const typename pcl::PointCloud<PointT>::Ptr& cloud, Fourth fourth);
};

}  // namespace trelvon
}  // namespace lidar_perception
