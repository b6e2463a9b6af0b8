// Configuration of one inference engine: the model file, the runtime that executes it, and the
// name, byte count, shape, layout and element type of every input and output.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ai_engine/ai_data_type.hpp"

namespace norvel {
namespace alg {
namespace common {

// Runtime that executes the model file. Only TorchScript is implemented; the other codes are
// reserved for the product line's runtimes and make `AIEngine::Init` fail.
enum AIFramework : int {
  kAIFrameworkTorchScript = 0,
  kAIFrameworkOnnx = 1,
  kAIFrameworkRknn = 2,
  kAIFrameworkTensorRt = 3,
};

struct AIEngineConfig {
  std::string model_path;
  // Byte count per buffer name; the keys are the model's input and output names.
  std::map<std::string, int> input_len;
  std::map<std::string, int> output_len;
  std::map<std::string, std::vector<int64_t>> input_shape;
  std::map<std::string, std::vector<int64_t>> output_shape;
  std::map<std::string, AIDataFormat> input_format;
  std::map<std::string, AIDataFormat> output_format;
  std::map<std::string, AIDataType> input_type;
  std::map<std::string, AIDataType> output_type;
  // Quantising runtimes' request for float outputs; TorchScript outputs already are what
  // `output_type` says, so the flag has no effect there.
  bool rk_want_float_flag{false};
  // An AIFramework code.
  int framework{kAIFrameworkTorchScript};
  // Intra-op threads used by every inference call.
  int num_threads{2};
};

}  // namespace common
}  // namespace alg
}  // namespace norvel
