#include "crc32.hpp"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace bag_io {

void Crc32::update(const std::uint8_t* data, std::size_t size) {
  // zlib takes uInt lengths: feed large ranges in pieces.
  while (size > 0) {
    const std::size_t piece = std::min<std::size_t>(size, std::numeric_limits<uInt>::max());
    value_ = static_cast<std::uint32_t>(::crc32(value_, data, static_cast<uInt>(piece)));
    data += piece;
    size -= piece;
  }
}

std::uint32_t Crc32::of(const std::uint8_t* data, std::size_t size) {
  Crc32 crc;
  crc.update(data, size);
  return crc.value();
}

}  // namespace bag_io
