// Reads CDR-encoded primitives from untrusted bytes, never past their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "ros2_core/cdr_byte_order.hpp"
#include "ros2_core/cdr_error.hpp"

namespace ros2_core {

// A cursor over one CDR sample: checks the 4-byte encapsulation header (CDR big-endian 00 00 or
// little-endian 00 01; the two option bytes are ignored), then reads primitives aligned to their
// size relative to the first byte after the header, swapping bytes when the sample's order differs
// from the host's. Every read checks the bytes left first and throws CdrError naming `field` and
// the byte offset. The reader does not own the bytes: they must outlive it. Bytes after the last
// field (padding some writers append) are left unread.
class CdrReader {
 public:
  // Throws CdrError for a sample shorter than its header or with an unknown encapsulation.
  CdrReader(const std::uint8_t* data, std::size_t size);

  // Skips padding until the body offset is a multiple of `alignment`.
  void align(std::size_t alignment, const char* field);

  // Reads one primitive, aligned to its size.
  template <typename T>
  T read(const char* field) {
    static_assert(std::is_arithmetic<T>::value, "CDR primitives are arithmetic types");
    T value{};
    readArray(&value, 1, sizeof(T), field);
    return value;
  }

  // Reads `count` elements of `element_size` bytes into `out` (host order), aligned once to the
  // element size. Throws before touching `out` when the bytes left are too few.
  void readArray(void* out, std::size_t count, std::size_t element_size, const char* field);

  // Reads a sequence length and checks that `count * min_element_size` bytes are left, so that a
  // lying length is rejected before anything is allocated for it.
  std::uint32_t readLength(std::size_t min_element_size, const char* field);

  // Reads a string: uint32 length including the terminator, bytes, NUL. A length of 0 is read as
  // the empty string. Throws when the bytes run out or the last byte is not NUL.
  std::string readString(const char* field);

  // Throws CdrError unless `count` bytes are left.
  void require(std::size_t count, const char* field, const char* what) const;

  // Absolute offset of the next byte, counted from the start of the header.
  std::size_t offset() const { return position_; }
  std::size_t remaining() const { return size_ - position_; }
  bool swaps() const { return swap_; }

 private:
  const std::uint8_t* data_{};
  std::size_t size_{};
  std::size_t position_{};
  bool swap_{false};
};

}  // namespace ros2_core
