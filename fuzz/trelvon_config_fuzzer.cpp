// trelvon.yaml as the box detector reads it: the pre- and post-processing sections built from any
// YAML, then the checks that tie the stages together. The backbone (a model file) is not built.
// A bad file is refused (null stage, false check, or a YAML exception), never a crash.
#include <yaml-cpp/yaml.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "stage_contract.hpp"
#include "trelvon/postprocess.hpp"
#include "trelvon/preprocess.hpp"

namespace trelvon = lidar_perception::trelvon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  YAML::Node root;
  try {
    root = YAML::Load(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const YAML::Exception&) {
    return 0;
  }
  try {
    const auto preprocess = trelvon::CreatePreProcess(root["preprocess"], false);
    const auto postprocess = trelvon::CreatePostProcess(root["postprocess"], false);
    // As the detector does it: the stages' agreement is checked once both were built (the
    // contract reads the post-process settings its factory has validated).
    if (preprocess != nullptr && postprocess != nullptr) {
      (void)trelvon::CheckStageContract(root, *preprocess);
    }
  } catch (const YAML::Exception&) {
  }
  return 0;
}
