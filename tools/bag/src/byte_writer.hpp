// Little-endian serialisation of MCAP records into a growing byte buffer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bag_io {

class ByteWriter {
 public:
  void u8(std::uint8_t v) { bytes_.push_back(v); }
  void u16(std::uint16_t v);
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void string(const std::string& s);
  void stringMap(const std::map<std::string, std::string>& map);
  void bytes(const std::uint8_t* data, std::size_t size);

  // Writes the opcode and a placeholder length; returns the record's start for endRecord().
  std::size_t beginRecord(std::uint8_t opcode);
  // Fills in the content length of the record begun at `start`.
  void endRecord(std::size_t start);

  const std::vector<std::uint8_t>& data() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  void clear() { bytes_.clear(); }

 private:
  void patchU64(std::size_t at, std::uint64_t v);
  std::vector<std::uint8_t> bytes_;
};

}  // namespace bag_io
