// The TorchScript entry of a build without LibTorch: the engine, libtrelvon and the node still
// build and run; only loading a model fails, with the reason and the way out.
#include "logger.hpp"
#include "torchscript_runtime.hpp"

namespace norvel {
namespace alg {
namespace common {

std::unique_ptr<ModelRuntime> LoadTorchScriptRuntime(const AIEngineConfig& config) {
  LOG_ERROR(
      "AIEngine: cannot load model {}: this build has no TorchScript runtime (LibTorch was not "
      "found when it was built; install libtorch-dev and rebuild)",
      config.model_path);
  return nullptr;
}

}  // namespace common
}  // namespace alg
}  // namespace norvel
