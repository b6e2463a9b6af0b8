// rosbag2 sqlite3 bags through openBag: the input is a .db3 file, or metadata.yaml, "\n#----\n"
// and the database of a bag folder (named bag_0.db3). A damaged bag is refused with BagError.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bag_io/bag_error.hpp"
#include "bag_io/bag_reader.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz_support::splitDocuments(data, size, 2);
  std::string path;
  if (parts.size() == 1) {
    path = (fuzz_support::scratchDir() / "input.db3").string();
    fuzz_support::writeFile(path, parts[0]);
  } else {
    const std::filesystem::path dir = fuzz_support::scratchDir() / "bag";
    std::filesystem::remove_all(dir);
    fuzz_support::writeFile(dir / "metadata.yaml", parts[0]);
    fuzz_support::writeFile(dir / "bag_0.db3", parts[1]);
    path = dir.string();
  }
  try {
    const std::unique_ptr<bag_io::BagReader> reader = bag_io::openBag(path);
    bag_io::BagMessage message;
    for (int i = 0; i < 10000 && reader->readNext(message); ++i) {
    }
  } catch (const bag_io::BagError&) {
  }
  return 0;
}
