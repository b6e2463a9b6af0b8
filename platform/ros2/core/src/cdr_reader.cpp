#include "ros2_core/cdr_reader.hpp"

#include <cstdio>
#include <cstring>
#include <string>

namespace ros2_core {

namespace {
constexpr std::size_t kHeaderSize = 4;

std::string hex_byte(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof(text), "%02x", byte);
  return text;
}
}  // namespace

CdrReader::CdrReader(const std::uint8_t* data, std::size_t size) : data_{data}, size_{size} {
  if (size_ < kHeaderSize || data_ == nullptr) {
    throw CdrError("CDR sample of " + std::to_string(size_) +
                       " bytes is shorter than its 4-byte encapsulation header",
                   "", 0);
  }
  if (data_[0] != 0x00 || (data_[1] != 0x00 && data_[1] != 0x01)) {
    throw CdrError("unknown CDR encapsulation " + hex_byte(data_[0]) + " " + hex_byte(data_[1]) +
                       " (expected 00 00 for big-endian or 00 01 for little-endian CDR)",
                   "", 0);
  }
  const bool little = data_[1] == 0x01;
  swap_ = little != host_is_little_endian();
  position_ = kHeaderSize;
}

void CdrReader::require(std::size_t count, const char* field, const char* what) const {
  if (count > remaining()) {
    throw CdrError("truncated CDR sample: " + std::string(what) + " needs " +
                       std::to_string(count) + " bytes, " + std::to_string(remaining()) + " left",
                   field, position_);
  }
}

void CdrReader::align(std::size_t alignment, const char* field) {
  // Alignments are powers of two: the padding is the negated body offset modulo the alignment.
  const std::size_t body = position_ - kHeaderSize;
  const std::size_t padding = (0 - body) & (alignment - 1);
  require(padding, field, "alignment padding");
  position_ += padding;
}

void CdrReader::readArray(void* out, std::size_t count, std::size_t element_size,
                          const char* field) {
  if (count == 0) {
    return;
  }
  align(element_size, field);
  // count was checked against the bytes left by readLength or is a fixed array size, so the
  // product cannot overflow for any real buffer; check anyway before multiplying.
  if (count > remaining() / element_size) {
    require(remaining() + 1, field, "the elements");
  }
  const std::size_t bytes = count * element_size;
  std::memcpy(out, data_ + position_, bytes);
  if (swap_ && element_size > 1) {
    swap_bytes(out, count, element_size);
  }
  position_ += bytes;
}

std::uint32_t CdrReader::readLength(std::size_t min_element_size, const char* field) {
  align(4, field);
  const std::size_t length_offset = position_;
  const std::uint32_t count = read<std::uint32_t>(field);
  if (min_element_size > 0 && count > remaining() / min_element_size) {
    throw CdrError("sequence length " + std::to_string(count) + " needs at least " +
                       std::to_string(static_cast<std::uint64_t>(count) * min_element_size) +
                       " bytes, " + std::to_string(remaining()) + " left",
                   field, length_offset);
  }
  return count;
}

std::string CdrReader::readString(const char* field) {
  align(4, field);
  const std::size_t length_offset = position_;
  const std::uint32_t length = read<std::uint32_t>(field);
  if (length == 0) {
    return std::string();
  }
  if (length > remaining()) {
    throw CdrError("string length " + std::to_string(length) + " exceeds the " +
                       std::to_string(remaining()) + " bytes left",
                   field, length_offset);
  }
  const char* chars = reinterpret_cast<const char*>(data_ + position_);
  if (chars[length - 1] != '\0') {
    throw CdrError("string lacks its NUL terminator", field, position_ + length - 1);
  }
  position_ += length;
  return std::string(chars, length - 1);
}

}  // namespace ros2_core
