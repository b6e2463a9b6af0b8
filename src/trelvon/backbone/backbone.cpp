#include "trelvon/backbone.hpp"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <utility>

#include "ai_buff_builder.hpp"
#include "backbone_implement.hpp"
#include "logger.hpp"

namespace lidar_perception {
namespace trelvon {
namespace {

using norvel::alg::common::AIBuff;
using norvel::alg::common::AIDataFormat;
using norvel::alg::common::AIDataType;

// Builds one buffer per name of `lengths`; a name missing from the format, shape or type map gets
// that map's default (0 or an empty shape).
template <typename Format, typename Type>
std::map<std::string, AIBuff> MakeBuffers(const std::map<std::string, int>& lengths,
                                          const std::map<std::string, Format>& formats,
                                          const std::map<std::string, std::vector<int64_t>>& shapes,
                                          const std::map<std::string, Type>& types) {
  std::map<std::string, AIBuff> buffers;
  for (const auto& entry : lengths) {
    const std::string& name = entry.first;
    const auto format = formats.find(name);
    const auto shape = shapes.find(name);
    const auto type = types.find(name);
    buffers[name] = MakeAIBuff(format == formats.end() ? 0 : static_cast<int>(format->second),
                               shape == shapes.end() ? std::vector<int64_t>{} : shape->second,
                               type == types.end() ? 0 : static_cast<int>(type->second));
  }
  return buffers;
}

// Every byte count must be usable as a copy length into (or a read length from) its buffer.
bool CheckLengths(const char* key, const std::map<std::string, int>& lengths,
                  const std::map<std::string, AIBuff>& buffers) {
  for (const auto& entry : lengths) {
    const std::size_t capacity = buffers.at(entry.first).data->size();
    if (entry.second < 0 || static_cast<std::size_t>(entry.second) > capacity) {
      LOG_ERROR(
          "Trelvon backbone: {}['{}'] = {} bytes does not fit its buffer of {} bytes (from its "
          "shape and type)",
          key, entry.first, entry.second, capacity);
      return false;
    }
  }
  return true;
}

// The package that installs the default network under its share directory.
constexpr const char* kPackageName = "corvanta_3d_lidar_detect";

// A relative model path names a file under the working directory when there is one; otherwise the
// first prefix on AMENT_PREFIX_PATH whose share/<package>/<path> exists gives it (the installed
// model). Absolute paths, and relative ones found nowhere, stay as they are.
std::string ResolveModelPath(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (path.empty() || fs::path(path).is_absolute() || fs::exists(path, error)) {
    return path;
  }
  const char* prefixes = std::getenv("AMENT_PREFIX_PATH");
  if (prefixes == nullptr) {
    return path;
  }
  std::istringstream list(prefixes);
  std::string prefix;
  while (std::getline(list, prefix, ':')) {
    if (prefix.empty()) {
      continue;
    }
    const fs::path candidate = fs::path(prefix) / "share" / kPackageName / path;
    if (fs::is_regular_file(candidate, error)) {
      return candidate.string();
    }
  }
  return path;
}

template <typename Enum>
std::map<std::string, Enum> ReadCodes(const YAML::Node& node) {
  std::map<std::string, Enum> codes;
  for (const auto& entry : node.as<std::map<std::string, int>>()) {
    codes[entry.first] = static_cast<Enum>(entry.second);
  }
  return codes;
}

}  // namespace

bool BackboneImplement::Init(const YAML::Node& node) {
  config.model_path = ResolveModelPath(node["model_path"].as<std::string>());
  config.input_len = node["input_len"].as<std::map<std::string, int>>();
  config.output_len = node["output_len"].as<std::map<std::string, int>>();
  config.rk_want_float_flag = node["rk_want_float_flag"].as<bool>();
  config.framework = node["framework"].as<int>();
  config.input_shape = node["input_shape"].as<std::map<std::string, std::vector<int64_t>>>();
  config.output_shape = node["output_shape"].as<std::map<std::string, std::vector<int64_t>>>();
  config.input_format = ReadCodes<AIDataFormat>(node["input_format"]);
  config.output_format = ReadCodes<AIDataFormat>(node["output_format"]);
  config.input_type = ReadCodes<AIDataType>(node["input_type"]);
  config.output_type = ReadCodes<AIDataType>(node["output_type"]);
  // Optional: the engine's own default applies when the file does not say.
  if (node["num_threads"]) {
    config.num_threads = node["num_threads"].as<int>();
  }

  LOG_INFO("Read model at {}", config.model_path);

  engine = std::make_shared<norvel::alg::common::AIEngine>();
  if (engine->Init(config) != 0) {
    return false;
  }
  inputs =
      MakeBuffers(config.input_len, config.input_format, config.input_shape, config.input_type);
  outputs =
      MakeBuffers(config.output_len, config.output_format, config.output_shape, config.output_type);
  return CheckLengths("input_len", config.input_len, inputs) &&
         CheckLengths("output_len", config.output_len, outputs);
}

bool BackboneImplement::Forward(const void* voxels, const void* coors, const void* voxel_num) {
  const std::pair<const char*, const void*> sources[] = {
      {"voxels", voxels}, {"coors", coors}, {"voxel_num", voxel_num}};
  for (const auto& source : sources) {
    const int length = config.input_len.at(source.first);
    std::memcpy(inputs.at(source.first).data->data(), source.second,
                static_cast<std::size_t>(length));
  }
  if (engine->DoInference(inputs, outputs) == 0) {
    return true;
  }
  LOG_ERROR("Trelvon forward: DoInference failed");
  return false;
}

const void* BackboneImplement::GetClsScore() {
  return outputs.at("cls_score").data->data();
}

const void* BackboneImplement::GetBboxPred() {
  return outputs.at("bbox_pred").data->data();
}

const void* BackboneImplement::GetDirClsPred() {
  return outputs.at("dir_cls_pred").data->data();
}

int BackboneImplement::GetClsScoreLen() {
  return config.output_len.at("cls_score");
}

int BackboneImplement::GetBboxPredLen() {
  return config.output_len.at("bbox_pred");
}

int BackboneImplement::GetDirClsPredLen() {
  return config.output_len.at("dir_cls_pred");
}

std::shared_ptr<Backbone> CreateBackbone(const YAML::Node& node) {
  auto backbone = std::make_shared<BackboneImplement>();
  if (!backbone->Init(node)) {
    return nullptr;
  }
  return backbone;
}

}  // namespace trelvon
}  // namespace lidar_perception
