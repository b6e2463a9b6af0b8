// MCAP files as the bag reader opens them: any file either opens and reads to its end or is
// refused with BagError.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bag_io/bag_error.hpp"
#include "bag_io/mcap_reader.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = (fuzz_support::scratchDir() / "input.mcap").string();
  fuzz_support::writeFile(path, std::string(reinterpret_cast<const char*>(data), size));
  try {
    bag_io::McapReader reader(path);
    bag_io::BagMessage message;
    for (int i = 0; i < 10000 && reader.readNext(message); ++i) {
    }
  } catch (const bag_io::BagError&) {
  }
  return 0;
}
