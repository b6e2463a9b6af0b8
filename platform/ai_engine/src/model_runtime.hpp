// A loaded model of one runtime, as the engine drives it.
//
// Implementations are created already loaded and checked (see TorchScriptRuntime::Load) and own
// everything the runtime needs; destroying the object releases the model.
#pragma once

#include <map>
#include <string>

#include "ai_engine/ai_buff.hpp"

namespace norvel {
namespace alg {
namespace common {

class ModelRuntime {
 public:
  virtual ~ModelRuntime() = default;

  // One inference; 0 on success, 1 after logging the cause.
  virtual int Run(std::map<std::string, AIBuff>& inputs,
                  std::map<std::string, AIBuff>& outputs) = 0;
};

}  // namespace common
}  // namespace alg
}  // namespace norvel
