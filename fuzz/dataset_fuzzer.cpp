// The simulator's data-set folders: dataset.yaml, then "\n#----\n" and frames/000000.yaml, then
// "\n#----\n" and the point records of frames/000000.bin. A damaged data set is refused with
// DatasetError (or a YAML exception).
#include <yaml-cpp/yaml.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "lidar_sim/dataset_layout.hpp"
#include "lidar_sim/dataset_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz_support::splitDocuments(data, size, 3);
  const std::filesystem::path dir = fuzz_support::scratchDir() / "dataset";
  fuzz_support::writeFile(dir / "dataset.yaml", parts[0]);
  fuzz_support::writeFile(dir / "frames" / "000000.yaml", parts.size() > 1 ? parts[1] : "");
  fuzz_support::writeFile(dir / "frames" / "000000.bin", parts.size() > 2 ? parts[2] : "");
  try {
    const lidar_sim::DatasetReader reader(dir.string());
    if (reader.frameCount() > 0) {
      (void)reader.readFrame(0);
    }
  } catch (const lidar_sim::DatasetError&) {
  } catch (const YAML::Exception&) {
  }
  return 0;
}
