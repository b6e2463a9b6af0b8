// The inference engine: loads a model file once and runs it on named buffers.
//
// `Init` loads the model for the configured runtime and checks it against the configuration by
// running it once on zero inputs: every configured input must be a model input and the reverse,
// and every model output must exist in the configuration with the configured shape and type.
// `DoInference` then runs the model on the caller's input blocks and copies each output into the
// caller's output block. Both return 0 on success and log the reason of a failure.
//
// One engine is used by one thread at a time. The runtime's state (a loaded model) is owned by
// the engine and released with it. The LibTorch types stay inside the library.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "ai_engine/ai_buff.hpp"
#include "ai_engine/ai_engine_config.hpp"
#include "ai_engine/export.hpp"

namespace norvel {
namespace alg {
namespace common {

class ModelRuntime;

class CORVANTA_AI_ENGINE_EXPORT AIEngine {
 public:
  AIEngine();
  ~AIEngine();
  AIEngine(const AIEngine&) = delete;
  AIEngine& operator=(const AIEngine&) = delete;

  // Loads and checks the model. Returns 0 on success, 1 after logging what was wrong. A second
  // call replaces the model.
  int Init(const AIEngineConfig& config);

  // Runs the model once. `inputs` must hold every configured input with a block of at least its
  // shape's size; `outputs` receives every configured output in its block, which must be at least
  // the output's size. Returns 0 on success; 1 after logging the cause (engine not initialised,
  // a buffer missing or too small, the model failing, or an output of unexpected shape or type).
  int DoInference(std::map<std::string, AIBuff>& inputs, std::map<std::string, AIBuff>& outputs);

 private:
  std::unique_ptr<ModelRuntime> runtime_;
};

}  // namespace common
}  // namespace alg
}  // namespace norvel
