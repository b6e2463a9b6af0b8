// The backbone stage: runs the detection network on the inference engine.
#pragma once

#include <yaml-cpp/yaml.h>

#include <memory>

#include "trelvon/export.hpp"

namespace lidar_perception {
namespace trelvon {

// Copies the pre-process tensors into the engine's input buffers, runs the engine and exposes its
// raw output buffers, which it owns for its lifetime and which every Forward overwrites.
class TRELVON_EXPORT Backbone {
 public:
  // Copies input_len bytes of "voxels", "coors", "voxel_num" from the pointers and runs the
  // network. Returns false after logging "Trelvon forward: DoInference failed". Throws
  // std::out_of_range when one of the three names has no input_len entry or buffer.
  virtual bool Forward(const void* voxels, const void* coors, const void* voxel_num) = 0;
  // Data of the output buffers "cls_score", "bbox_pred", "dir_cls_pred".
  virtual const void* GetClsScore() = 0;
  virtual const void* GetBboxPred() = 0;
  virtual const void* GetDirClsPred() = 0;
  // The configured output_len of the same outputs, in bytes.
  virtual int GetClsScoreLen() = 0;
  virtual int GetBboxPredLen() = 0;
  virtual int GetDirClsPredLen() = 0;
  virtual ~Backbone() = default;
};

// Reads the `backbone` section and initialises the engine with it. Missing or ill-typed keys
// throw yaml-cpp's exceptions; an engine that fails to initialise, or a byte count that does not
// fit the buffer built from its shape and type, gives an empty pointer (the latter after an error
// line naming the entry).
TRELVON_EXPORT std::shared_ptr<Backbone> CreateBackbone(const YAML::Node& node);

}  // namespace trelvon
}  // namespace lidar_perception
