#include "byte_writer.hpp"

namespace bag_io {

void ByteWriter::u16(std::uint16_t v) {
  for (int i = 0; i < 2; ++i) {
    bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
}

void ByteWriter::u32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
}

void ByteWriter::u64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) {
    bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
}

void ByteWriter::string(const std::string& s) {
  u32(static_cast<std::uint32_t>(s.size()));
  bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

void ByteWriter::stringMap(const std::map<std::string, std::string>& map) {
  const std::size_t length_at = bytes_.size();
  u32(0);
  for (const auto& [key, value] : map) {
    string(key);
    string(value);
  }
  const auto length = static_cast<std::uint32_t>(bytes_.size() - length_at - 4);
  for (int i = 0; i < 4; ++i) {
    bytes_[length_at + i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
}

void ByteWriter::bytes(const std::uint8_t* data, std::size_t size) {
  bytes_.insert(bytes_.end(), data, data + size);
}

std::size_t ByteWriter::beginRecord(std::uint8_t opcode) {
  const std::size_t start = bytes_.size();
  u8(opcode);
  u64(0);
  return start;
}

void ByteWriter::endRecord(std::size_t start) {
  patchU64(start + 1, bytes_.size() - start - 9);
}

void ByteWriter::patchU64(std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) {
    bytes_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

}  // namespace bag_io
