// The player's PointCloud2 -> Livox CustomMsg conversion on any layout and data: a cloud it
// cannot read is refused with std::invalid_argument, and no read leaves the data.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "fuzz_support.hpp"
#include "scan_player/scan_conversion.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const sensor_msgs::msg::PointCloud2 cloud = fuzz_support::cloudFromInput(input);
  try {
    const auto custom = scan_player::toCustomMsg(cloud);
    (void)scan_player::toPointCloud2(custom);
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
