#include "torchscript_runtime.hpp"

#include <ATen/Parallel.h>
#include <dlfcn.h>
#include <sched.h>
#include <torch/script.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logger.hpp"

namespace norvel {
namespace alg {
namespace common {
namespace {

at::ScalarType ToScalarType(int type) {
  switch (type) {
    case kAIUint8:
      return at::kByte;
    case kAIFloat16:
      return at::kHalf;
    case kAIInt32:
      return at::kInt;
    case kAIInt64:
      return at::kLong;
    case kAIFloat32:
    default:
      return at::kFloat;
  }
}

std::string ScalarTypeName(at::ScalarType type) {
  switch (type) {
    case at::kByte:
      return "uint8";
    case at::kHalf:
      return "float16";
    case at::kFloat:
      return "float32";
    case at::kInt:
      return "int32";
    case at::kLong:
      return "int64";
    default:
      return c10::toString(type);
  }
}

// CPUs this process may run on.
int AvailableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    return CPU_COUNT(&set);
  }
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// Intra-op threads of one inference: the configured count, but always one core fewer than the
// process has. The engine runs beside the frame pipeline, and LibTorch's OpenMP workers spin
// between and after parallel regions (the wait policy is read from the environment when the
// runtime loads, too early for us to change); a team that fills every core takes the pipeline's
// core and the inference slows down tenfold.
int IntraOpThreads(int configured) {
  return std::max(1, std::min(configured, AvailableCpus() - 1));
}

// Process-wide settings of the runtime, made once before the first model runs: no inter-op pool
// (the models have no parallel branches), and a single-threaded BLAS, whose own worker pool
// would spin beside OpenMP's; BLAS calls still run on the intra-op threads.
void ConfigureRuntimeThreading() {
  static std::once_flag configured;
  std::call_once(configured, [] {
    try {
      at::set_num_interop_threads(1);
    } catch (const c10::Error&) {
      // The pool was sized earlier in this process (another library did it); keep that size.
    }
    using SetThreadCount = void (*)(int);
    // Present only when the BLAS is OpenBLAS; other BLAS libraries have no pool of their own.
    if (auto set_blas_threads =
            reinterpret_cast<SetThreadCount>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"))) {
      set_blas_threads(1);
    }
  });
}

// One buffer as the model sees it, checked once at load.
struct TensorSpec {
  std::string name;
  std::vector<int64_t> shape;
  at::ScalarType scalar_type{at::kFloat};
  std::size_t bytes{0};
};

// Reads the per-name shape and type of every buffer named in `lengths`. Returns false after
// logging the first entry that is missing or invalid.
bool ReadSpecs(const char* direction, const std::map<std::string, int>& lengths,
               const std::map<std::string, std::vector<int64_t>>& shapes,
               const std::map<std::string, AIDataFormat>& formats,
               const std::map<std::string, AIDataType>& types, std::vector<TensorSpec>& specs) {
  specs.clear();
  for (const auto& entry : lengths) {
    const std::string& name = entry.first;
    const auto shape = shapes.find(name);
    if (shape == shapes.end()) {
      LOG_ERROR("AIEngine: {} '{}' has no {}_shape entry", direction, name, direction);
      return false;
    }
    const auto type = types.find(name);
    if (type == types.end()) {
      LOG_ERROR("AIEngine: {} '{}' has no {}_type entry", direction, name, direction);
      return false;
    }
    if (!IsKnownDataType(type->second)) {
      LOG_ERROR(
          "AIEngine: {} '{}' has type code {}; known codes are 0 uint8, 1 float16, 2 float32, "
          "3 int32, 4 int64",
          direction, name, static_cast<int>(type->second));
      return false;
    }
    const auto format = formats.find(name);
    if (format != formats.end() && !IsKnownDataFormat(format->second)) {
      LOG_ERROR("AIEngine: {} '{}' has format code {}; known codes are 0 NCHW, 1 NHWC, 2 any",
                direction, name, static_cast<int>(format->second));
      return false;
    }
    TensorSpec spec;
    spec.name = name;
    spec.shape = shape->second;
    spec.scalar_type = ToScalarType(type->second);
    std::size_t elements = 1;
    for (const int64_t extent : spec.shape) {
      if (extent < 0) {
        LOG_ERROR("AIEngine: {} '{}' has a negative extent in shape [{}]", direction, name,
                  fmt::join(spec.shape, ", "));
        return false;
      }
      elements *= static_cast<std::size_t>(extent);
    }
    spec.bytes = elements * ElementSize(type->second);
    specs.push_back(std::move(spec));
  }
  return true;
}

// The model behind one TorchScript file. Invariant: the forward schema's arguments after `self`
// are exactly the names in `inputs_`, in call order, and one run on zeros produced every output
// of `outputs_` with its shape and type.
class TorchScriptRuntime : public ModelRuntime {
 public:
  TorchScriptRuntime(torch::jit::Module module, std::vector<TensorSpec> inputs,
                     std::vector<TensorSpec> outputs, int num_threads)
      : module_(std::move(module)),
        inputs_(std::move(inputs)),
        outputs_(std::move(outputs)),
        num_threads_(num_threads) {}

  // Runs the model on `arguments`; fills `dict` or returns false with the reason in `error`.
  bool Forward(std::vector<c10::IValue> arguments, c10::impl::GenericDict* dict,
               std::string& error) {
    // The OpenMP thread count is per calling thread: set it on whichever thread runs us.
    if (at::get_num_threads() != num_threads_) {
      at::set_num_threads(num_threads_);
    }
    try {
      c10::InferenceMode inference_mode;
      c10::IValue result = module_.forward(std::move(arguments));
      if (!result.isGenericDict()) {
        error = fmt::format("the model returned {}, not a dict of named tensors", result.tagKind());
        return false;
      }
      *dict = result.toGenericDict();
      return true;
    } catch (const c10::Error& e) {
      error = e.what_without_backtrace();
    } catch (const std::exception& e) {
      error = e.what();
    }
    return false;
  }

  // Checks one produced output against its spec; returns the tensor made contiguous.
  static bool CheckOutput(const c10::impl::GenericDict& dict, const TensorSpec& spec,
                          at::Tensor& tensor, std::string& error) {
    const auto found = dict.find(spec.name);
    if (found == dict.end()) {
      std::vector<std::string> names;
      for (const auto& item : dict) {
        names.push_back(item.key().isString() ? item.key().toStringRef() : "?");
      }
      error = fmt::format("output '{}' is not produced by the model (model outputs: {})", spec.name,
                          fmt::join(names, ", "));
      return false;
    }
    if (!found->value().isTensor()) {
      error = fmt::format("output '{}' is not a tensor", spec.name);
      return false;
    }
    tensor = found->value().toTensor();
    if (tensor.sizes().vec() != spec.shape) {
      error = fmt::format("output '{}' has shape [{}], the configuration says [{}]", spec.name,
                          fmt::join(tensor.sizes().vec(), ", "), fmt::join(spec.shape, ", "));
      return false;
    }
    if (tensor.scalar_type() != spec.scalar_type) {
      error = fmt::format("output '{}' has type {}, the configuration says {}", spec.name,
                          ScalarTypeName(tensor.scalar_type()), ScalarTypeName(spec.scalar_type));
      return false;
    }
    tensor = tensor.contiguous();
    return true;
  }

  // The first run, on zero inputs, at load time.
  bool Probe(std::string& error) {
    std::vector<c10::IValue> arguments;
    for (const TensorSpec& spec : inputs_) {
      arguments.emplace_back(torch::zeros(spec.shape, at::TensorOptions(spec.scalar_type)));
    }
    c10::impl::GenericDict dict(c10::StringType::get(), c10::TensorType::get());
    if (!Forward(std::move(arguments), &dict, error)) {
      error = fmt::format("the model fails on zero inputs: {}", error);
      return false;
    }
    at::Tensor tensor;
    for (const TensorSpec& spec : outputs_) {
      if (!CheckOutput(dict, spec, tensor, error)) {
        return false;
      }
    }
    return true;
  }

  int Run(std::map<std::string, AIBuff>& inputs, std::map<std::string, AIBuff>& outputs) override {
    std::vector<c10::IValue> arguments;
    arguments.reserve(inputs_.size());
    for (const TensorSpec& spec : inputs_) {
      const auto buffer = inputs.find(spec.name);
      if (buffer == inputs.end() || buffer->second.data == nullptr) {
        LOG_ERROR("AIEngine: input '{}' is missing from the inference inputs", spec.name);
        return 1;
      }
      std::vector<uint8_t>& block = *buffer->second.data;
      if (block.size() < spec.bytes) {
        LOG_ERROR("AIEngine: input '{}' holds {} bytes, its shape needs {}", spec.name,
                  block.size(), spec.bytes);
        return 1;
      }
      // The block outlives the call, so the model reads it in place.
      arguments.emplace_back(
          torch::from_blob(block.data(), spec.shape, at::TensorOptions(spec.scalar_type)));
    }
    c10::impl::GenericDict dict(c10::StringType::get(), c10::TensorType::get());
    std::string error;
    if (!Forward(std::move(arguments), &dict, error)) {
      LOG_ERROR("AIEngine: inference failed: {}", error);
      return 1;
    }
    at::Tensor tensor;
    for (const TensorSpec& spec : outputs_) {
      if (!CheckOutput(dict, spec, tensor, error)) {
        LOG_ERROR("AIEngine: {}", error);
        return 1;
      }
      const auto buffer = outputs.find(spec.name);
      if (buffer == outputs.end() || buffer->second.data == nullptr) {
        LOG_ERROR("AIEngine: output '{}' is missing from the inference outputs", spec.name);
        return 1;
      }
      std::vector<uint8_t>& block = *buffer->second.data;
      if (block.size() < spec.bytes) {
        LOG_ERROR("AIEngine: output '{}' holds {} bytes, the model writes {}", spec.name,
                  block.size(), spec.bytes);
        return 1;
      }
      std::memcpy(block.data(), tensor.data_ptr(), spec.bytes);
    }
    return 0;
  }

 private:
  torch::jit::Module module_;
  std::vector<TensorSpec> inputs_;
  std::vector<TensorSpec> outputs_;
  int num_threads_;
};

}  // namespace

std::unique_ptr<ModelRuntime> LoadTorchScriptRuntime(const AIEngineConfig& config) {
  if (config.num_threads < 1) {
    LOG_ERROR("AIEngine: num_threads must be >= 1, got {}", config.num_threads);
    return nullptr;
  }
  ConfigureRuntimeThreading();
  const int threads = IntraOpThreads(config.num_threads);
  std::vector<TensorSpec> inputs;
  std::vector<TensorSpec> outputs;
  if (!ReadSpecs("input", config.input_len, config.input_shape, config.input_format,
                 config.input_type, inputs) ||
      !ReadSpecs("output", config.output_len, config.output_shape, config.output_format,
                 config.output_type, outputs)) {
    return nullptr;
  }
  if (!std::ifstream(config.model_path).good()) {
    LOG_ERROR("AIEngine: model file '{}' cannot be opened", config.model_path);
    return nullptr;
  }
  torch::jit::Module module;
  try {
    module = torch::jit::load(config.model_path, torch::kCPU);
  } catch (const c10::Error& e) {
    LOG_ERROR("AIEngine: '{}' is not a loadable TorchScript model: {}", config.model_path,
              e.what_without_backtrace());
    return nullptr;
  } catch (const std::exception& e) {
    LOG_ERROR("AIEngine: '{}' is not a loadable TorchScript model: {}", config.model_path,
              e.what());
    return nullptr;
  }
  module.eval();

  const auto forward = module.find_method("forward");
  if (!forward.has_value()) {
    LOG_ERROR("AIEngine: model '{}' has no forward method", config.model_path);
    return nullptr;
  }
  // Arguments in call order, without `self`.
  std::vector<std::string> argument_names;
  const auto& arguments = forward->function().getSchema().arguments();
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    argument_names.push_back(arguments[i].name());
  }
  std::vector<TensorSpec> ordered_inputs;
  for (const std::string& name : argument_names) {
    const auto spec = std::find_if(inputs.begin(), inputs.end(),
                                   [&name](const TensorSpec& s) { return s.name == name; });
    if (spec == inputs.end()) {
      LOG_ERROR("AIEngine: model input '{}' has no configured buffer (input_len)", name);
      return nullptr;
    }
    ordered_inputs.push_back(*spec);
  }
  if (ordered_inputs.size() != inputs.size()) {
    for (const TensorSpec& spec : inputs) {
      if (std::find(argument_names.begin(), argument_names.end(), spec.name) ==
          argument_names.end()) {
        LOG_ERROR("AIEngine: configured input '{}' is not an input of the model (inputs: {})",
                  spec.name, fmt::join(argument_names, ", "));
        return nullptr;
      }
    }
  }

  auto runtime = std::make_unique<TorchScriptRuntime>(std::move(module), std::move(ordered_inputs),
                                                      std::move(outputs), threads);
  std::string error;
  if (!runtime->Probe(error)) {
    LOG_ERROR("AIEngine: model '{}' does not match its configuration: {}", config.model_path,
              error);
    return nullptr;
  }
  LOG_INFO(
      "AIEngine: loaded TorchScript model '{}' ({} inputs, {} outputs, {} intra-op threads of {} "
      "configured on {} CPUs)",
      config.model_path, argument_names.size(), config.output_len.size(), threads,
      config.num_threads, AvailableCpus());
  return runtime;
}

}  // namespace common
}  // namespace alg
}  // namespace norvel
