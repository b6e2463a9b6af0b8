// The dynamic cloud detector's YAML: any file either loads into a configuration the detector can
// use or is refused with std::runtime_error naming the file; the node's limits are then either
// taken over or refused with std::invalid_argument (a file whose lower view edge lies above the
// node's upper one cannot take them).
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz_support.hpp"
#include "norvel/perception/dynamic_cloud_detector_config.hpp"

using norvel::perception::DynamicCloudDetectorConfig;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = (fuzz_support::scratchDir() / "dynamic_cloud_detector.yaml").string();
  fuzz_support::writeFile(path, std::string(reinterpret_cast<const char*>(data), size));
  DynamicCloudDetectorConfig config;
  try {
    config = DynamicCloudDetectorConfig::load(path);
  } catch (const std::runtime_error&) {
    return 0;
  }
  DynamicCloudDetectorConfig::NodeLimits limits;
  limits.sensor_max_elevation_deg = 20.0F;
  try {
    config.applyNodeLimits(limits);
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
