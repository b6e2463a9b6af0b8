#include "byte_reader.hpp"

#include <fmt/format.h>

#include "bag_io/bag_error.hpp"

namespace bag_io {

void failAt(const RecordLocation& where, const std::string& what) {
  const std::string& file = where.file != nullptr ? *where.file : std::string("<memory>");
  if (where.in_chunk) {
    throw BagError(
        file, where.file_offset,
        fmt::format("in the chunk's records at offset {}: {}", where.chunk_offset, what));
  }
  throw BagError(file, where.file_offset, what);
}

void ByteReader::fail(const std::string& what) const {
  failAt(where_, what);
}

void ByteReader::need(std::uint64_t n, const char* field) const {
  if (n > remaining()) {
    fail(fmt::format("{} needs {} bytes but the record has {} left", field, n, remaining()));
  }
}

std::uint8_t ByteReader::u8() {
  need(1, "uint8 field");
  return data_[pos_++];
}

std::uint16_t ByteReader::u16() {
  need(2, "uint16 field");
  const std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
  pos_ += 2;
  return v;
}

std::uint32_t ByteReader::u32() {
  need(4, "uint32 field");
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = (v << 8) | data_[pos_ + i];
  }
  pos_ += 4;
  return v;
}

std::uint64_t ByteReader::u64() {
  need(8, "uint64 field");
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) {
    v = (v << 8) | data_[pos_ + i];
  }
  pos_ += 8;
  return v;
}

const std::uint8_t* ByteReader::take(std::uint64_t n, const char* field) {
  need(n, field);
  const std::uint8_t* p = data_ + pos_;
  pos_ += n;
  return p;
}

std::string ByteReader::string(const char* field) {
  const std::uint32_t length = u32();
  const std::uint8_t* p = take(length, field);
  return std::string(reinterpret_cast<const char*>(p), length);
}

std::map<std::string, std::string> ByteReader::stringMap(const char* field) {
  const std::uint32_t length = u32();
  ByteReader entries(take(length, field), length, where_);
  std::map<std::string, std::string> map;
  while (entries.remaining() > 0) {
    std::string key = entries.string(field);
    map[key] = entries.string(field);
  }
  return map;
}

}  // namespace bag_io
