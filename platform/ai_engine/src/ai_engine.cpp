#include "ai_engine/ai_engine.hpp"

#include "logger.hpp"
#include "model_runtime.hpp"
#include "torchscript_runtime.hpp"

namespace norvel {
namespace alg {
namespace common {

AIEngine::AIEngine() = default;

AIEngine::~AIEngine() = default;

int AIEngine::Init(const AIEngineConfig& config) {
  runtime_.reset();
  switch (config.framework) {
    case kAIFrameworkTorchScript:
      runtime_ = LoadTorchScriptRuntime(config);
      break;
    default:
      LOG_ERROR(
          "AIEngine: framework {} is not supported by this engine (supported: {} TorchScript)",
          config.framework, static_cast<int>(kAIFrameworkTorchScript));
      return 1;
  }
  return runtime_ == nullptr ? 1 : 0;
}

int AIEngine::DoInference(std::map<std::string, AIBuff>& inputs,
                          std::map<std::string, AIBuff>& outputs) {
  if (runtime_ == nullptr) {
    LOG_ERROR("AIEngine: DoInference called without a successfully initialised model");
    return 1;
  }
  return runtime_->Run(inputs, outputs);
}

}  // namespace common
}  // namespace alg
}  // namespace norvel
