#include "ros2_core/cdr_writer.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

#include "ros2_core/cdr_byte_order.hpp"

namespace ros2_core {

namespace {
// Alignment counts from the first byte after the encapsulation header.
constexpr std::size_t kHeaderSize = 4;
}  // namespace

CdrWriter::CdrWriter(std::size_t reserve) {
  buffer_.reserve(reserve + kHeaderSize);
  const std::uint8_t header[kHeaderSize] = {
      0x00, host_is_little_endian() ? std::uint8_t{0x01} : std::uint8_t{0x00}, 0x00, 0x00};
  append(header, kHeaderSize);
}

void CdrWriter::align(std::size_t alignment) {
  const std::size_t padding = padding_for(alignment);
  if (padding > 0) {
    buffer_.resize(buffer_.size() + padding, std::uint8_t{0});
  }
}

std::size_t CdrWriter::padding_for(std::size_t alignment) const {
  // Alignments are powers of two: the padding is the negated body offset modulo the alignment.
  const std::size_t body = buffer_.size() - kHeaderSize;
  return (0 - body) & (alignment - 1);
}

void CdrWriter::appendAligned(const void* data, std::size_t size) {
  const std::size_t padding = padding_for(size);
  const std::size_t old_size = buffer_.size();
  buffer_.resize(old_size + padding + size);
  std::uint8_t* out = buffer_.data() + old_size;
  std::memset(out, 0, padding);
  std::memcpy(out + padding, data, size);
}

void CdrWriter::writeArray(const void* data, std::size_t count, std::size_t element_size) {
  if (count == 0) {
    return;
  }
  align(element_size);
  append(data, count * element_size);
}

void CdrWriter::writeLength(std::size_t length) {
  if (length > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("CDR length " + std::to_string(length) +
                            " does not fit the uint32 length field");
  }
  write(static_cast<std::uint32_t>(length));
}

void CdrWriter::writeString(const std::string& text) {
  writeLength(text.size() + 1);
  append(text.data(), text.size());
  buffer_.push_back(0);
}

void CdrWriter::append(const void* data, std::size_t size) {
  if (size == 0) {
    return;
  }
  const std::size_t old_size = buffer_.size();
  buffer_.resize(old_size + size);
  std::memcpy(buffer_.data() + old_size, data, size);
}

std::vector<std::uint8_t> CdrWriter::take() {
  std::vector<std::uint8_t> out = std::move(buffer_);
  buffer_.clear();
  return out;
}

}  // namespace ros2_core
