// Entry to the TorchScript runtime; LibTorch's headers stay inside its source file.
#pragma once

#include <memory>

#include "ai_engine/ai_engine_config.hpp"
#include "model_runtime.hpp"

namespace norvel {
namespace alg {
namespace common {

// Loads the TorchScript file `config.model_path` and checks it against `config` by one run on
// zero inputs. The model's forward takes the inputs as named tensor arguments and returns a
// Dict[str, Tensor] keyed by output name. Returns nullptr after logging the first mismatch.
std::unique_ptr<ModelRuntime> LoadTorchScriptRuntime(const AIEngineConfig& config);

}  // namespace common
}  // namespace alg
}  // namespace norvel
