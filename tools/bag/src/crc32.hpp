// Running CRC-32 (the zlib polynomial MCAP uses), over any number of byte ranges.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bag_io {

class Crc32 {
 public:
  void update(const std::uint8_t* data, std::size_t size);
  std::uint32_t value() const { return value_; }

  static std::uint32_t of(const std::uint8_t* data, std::size_t size);

 private:
  std::uint32_t value_{0};
};

}  // namespace bag_io
