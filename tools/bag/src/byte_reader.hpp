// Bounds-checked little-endian reading of one record's bytes.
//
// Views bytes it does not own (they must outlive the reader). Every read checks the bytes left
// and throws BagError naming the file and the record's offset, and inside a chunk the offset
// within the chunk's uncompressed records, so damaged input never reads past its buffer.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace bag_io {

struct RecordLocation {
  const std::string* file{nullptr};
  std::uint64_t file_offset{0};  // the record, or the chunk holding it
  bool in_chunk{false};
  std::uint64_t chunk_offset{0};  // offset within the chunk's uncompressed records
};

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size, RecordLocation where)
      : data_(data), size_(size), where_(where) {}

  std::uint8_t u8();
  std::uint16_t u16();
  std::uint32_t u32();
  std::uint64_t u64();
  // uint32 length followed by that many bytes.
  std::string string(const char* field);
  // Map<string, string> with a uint32 byte-length prefix.
  std::map<std::string, std::string> stringMap(const char* field);
  // Returns a pointer to the next `n` bytes and steps over them.
  const std::uint8_t* take(std::uint64_t n, const char* field);

  std::size_t remaining() const { return size_ - pos_; }
  std::size_t position() const { return pos_; }

  [[noreturn]] void fail(const std::string& what) const;

 private:
  void need(std::uint64_t n, const char* field) const;

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_{0};
  RecordLocation where_;
};

[[noreturn]] void failAt(const RecordLocation& where, const std::string& what);

}  // namespace bag_io
