// The backbone on the inference engine: one engine, one named buffer per network input and
// output.
//
// Owns the engine and the buffers; all are created in Init and live as long as the object. The
// output blocks hold what the last DoInference left in them. Invariant after a successful Init:
// every input_len and output_len entry is non-negative and at most its buffer's size, so the
// copies in Forward stay inside the blocks. One thread per instance.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "ai_engine/ai_engine.hpp"
#include "trelvon/backbone.hpp"

namespace lidar_perception {
namespace trelvon {

class BackboneImplement : public Backbone {
 public:
  // Reads the configuration, initialises the engine and builds the buffers. Returns false when
  // the engine refuses the configuration or a byte count exceeds its buffer. yaml-cpp exceptions
  // for missing or ill-typed keys leave the function.
  bool Init(const YAML::Node& node);

  bool Forward(const void* voxels, const void* coors, const void* voxel_num) override;
  const void* GetClsScore() override;
  const void* GetBboxPred() override;
  const void* GetDirClsPred() override;
  int GetClsScoreLen() override;
  int GetBboxPredLen() override;
  int GetDirClsPredLen() override;

  std::shared_ptr<norvel::alg::common::AIEngine> engine;
  norvel::alg::common::AIEngineConfig config;
  std::map<std::string, norvel::alg::common::AIBuff> inputs;
  std::map<std::string, norvel::alg::common::AIBuff> outputs;
};

}  // namespace trelvon
}  // namespace lidar_perception
