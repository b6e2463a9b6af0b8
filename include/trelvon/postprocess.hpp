// The post-process stage: raw network outputs in, the scored and suppressed box list out.
#pragma once

#include <yaml-cpp/yaml.h>

#include <memory>
#include <vector>

#include "trelvon/bbox.hpp"
#include "trelvon/export.hpp"

namespace lidar_perception {
namespace trelvon {

// Decodes anchors and owns the resulting box list; a reference to it stays valid until the next
// Forward or ClearBboxes. One thread per instance.
class TRELVON_EXPORT PostProcess {
 public:
  // Replaces the box list. The buffers must hold H x W x 6 x C, x 7 and x 2 floats.
  virtual void Forward(const float* cls_score, const float* bbox_pred,
                       const float* dir_cls_pred) = 0;
  virtual const std::vector<BBox>& GetBboxes() = 0;
  // Empties the box list; always true.
  virtual bool ClearBboxes() = 0;
  virtual ~PostProcess() = default;
};

// Grid arithmetic of the decoder's map.
struct TRELVON_EXPORT PostProcessParameter {
  // For x, y, z: roundf((upper - lower) / voxel_size) as int. Each argument holds 3 values;
  // throws std::invalid_argument otherwise.
  static std::vector<int> ComputeGridSize(const std::vector<float>& upper,
                                          const std::vector<float>& lower,
                                          const std::vector<float>& voxel_size);
};

// `use_gpu` false: CreatePostProcessCpu(node). True: logs "Not support gpu postprocess yet" and
// returns an empty pointer.
TRELVON_EXPORT std::shared_ptr<PostProcess> CreatePostProcess(const YAML::Node& node, bool use_gpu);

// Reads the `postprocess` section. Missing or ill-typed keys throw yaml-cpp's exceptions; values
// outside the decoder's limits (fewer than 6 anchors of 4 values, fewer than 3 bottom heights,
// score_thresh not strictly between 0 and 1, an empty map or range) log an error line naming the
// key and return an empty pointer.
TRELVON_EXPORT std::shared_ptr<PostProcess> CreatePostProcessCpu(const YAML::Node& node);

}  // namespace trelvon
}  // namespace lidar_perception
