// Appends CDR-encoded primitives to a byte buffer, aligned as XCDR1 (plain CDR) requires.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace ros2_core {

// Builds one CDR sample in the host's byte order: the 4-byte encapsulation header (CDR
// little-endian 00 01 00 00 on little-endian hosts, big-endian 00 00 00 00 otherwise), then
// primitives each aligned to its own size relative to the first byte after the header. Padding
// bytes are zero. The writer owns its buffer until `take()` hands it over.
class CdrWriter {
 public:
  // Starts a sample with its encapsulation header; `reserve` bytes are allocated up front.
  explicit CdrWriter(std::size_t reserve = 256);

  // Pads with zeros until the body offset is a multiple of `alignment` (1, 2, 4 or 8).
  void align(std::size_t alignment);

  // Writes one primitive, aligned to its size.
  template <typename T>
  void write(T value) {
    static_assert(std::is_arithmetic<T>::value, "CDR primitives are arithmetic types");
    appendAligned(&value, sizeof(T));
  }

  // Writes one primitive of `size` bytes (1, 2, 4 or 8; host representation) aligned to its size.
  void appendAligned(const void* data, std::size_t size);

  // Writes `count` contiguous elements of `element_size` bytes each (host representation),
  // aligned once to the element size: the layout of a CDR array of primitives.
  void writeArray(const void* data, std::size_t count, std::size_t element_size);

  // Writes a sequence or string length; throws std::length_error past uint32.
  void writeLength(std::size_t length);

  // Writes a string: uint32 length including the terminator, the bytes, a NUL.
  void writeString(const std::string& text);

  // Writes raw bytes without alignment.
  void append(const void* data, std::size_t size);

  // Bytes written so far, header included.
  std::size_t size() const { return buffer_.size(); }

  // Hands over the sample; the writer is empty afterwards.
  std::vector<std::uint8_t> take();

 private:
  std::size_t padding_for(std::size_t alignment) const;

  std::vector<std::uint8_t> buffer_;
};

}  // namespace ros2_core
