// Host byte order and byte swapping for CDR samples written in the other order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ros2_core {

// True when the host stores the least significant byte first.
inline bool host_is_little_endian() {
  const std::uint16_t probe = 1;
  return *reinterpret_cast<const std::uint8_t*>(&probe) == 1;
}

// Reverses the byte order of `count` elements of `element_size` bytes each, in place.
inline void swap_bytes(void* data, std::size_t count, std::size_t element_size) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  for (std::size_t i = 0; i < count; ++i, bytes += element_size) {
    for (std::size_t lo = 0, hi = element_size - 1; lo < hi; ++lo, --hi) {
      const std::uint8_t b = bytes[lo];
      bytes[lo] = bytes[hi];
      bytes[hi] = b;
    }
  }
}

}  // namespace ros2_core
