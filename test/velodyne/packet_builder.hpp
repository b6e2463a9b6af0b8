// Builds VLP-16 data packets byte by byte for the tests, following the maker's published layout
// independently of the decoder's constants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velodyne_test {

class PacketBuilder {
 public:
  // All 12 blocks flagged 0xFFEE at azimuth `first_azimuth` + b * `step` (mod 36000), no returns,
  // strongest return mode, VLP-16 product id, timestamp `stamp_us`.
  PacketBuilder(int first_azimuth, int step, std::uint32_t stamp_us = 1000) : bytes_(1206, 0) {
    for (int b = 0; b < 12; ++b) {
      bytes_[100 * b] = 0xFF;
      bytes_[100 * b + 1] = 0xEE;
      setAzimuth(b, (first_azimuth + b * step) % 36000);
    }
    setU32(1200, stamp_us);
    bytes_[1204] = 0x37;
    bytes_[1205] = 0x22;
  }

  PacketBuilder& setAzimuth(int block, int azimuth) {
    setU16(100 * block + 2, static_cast<std::uint16_t>(azimuth));
    return *this;
  }
  // Return `channel` (0..31: first firing sequence 0..15, second 16..31) of `block`.
  PacketBuilder& setReturn(int block, int channel, std::uint16_t distance_2mm,
                           std::uint8_t reflectivity) {
    const std::size_t at = 100 * block + 4 + 3 * channel;
    setU16(at, distance_2mm);
    bytes_[at + 2] = reflectivity;
    return *this;
  }
  PacketBuilder& setByte(std::size_t offset, std::uint8_t value) {
    bytes_[offset] = value;
    return *this;
  }
  PacketBuilder& setU32(std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return *this;
  }
  std::vector<std::uint8_t> bytes() const { return bytes_; }

 private:
  void setU16(std::size_t offset, std::uint16_t value) {
    bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  }

  std::vector<std::uint8_t> bytes_;
};

}  // namespace velodyne_test
