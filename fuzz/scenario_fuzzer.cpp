// The simulator's scenario files: any YAML either parses into a scenario or is refused with an
// exception naming the problem.
#include <yaml-cpp/yaml.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "lidar_sim/scenario.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  YAML::Node root;
  try {
    root = YAML::Load(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const YAML::Exception&) {
    return 0;
  }
  try {
    (void)lidar_sim::parseScenario(root, "fuzz.yaml");
  } catch (const std::runtime_error&) {
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
