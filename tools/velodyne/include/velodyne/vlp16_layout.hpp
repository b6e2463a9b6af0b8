// The VLP-16 data packet layout and laser geometry, as the sensor maker's user manual publishes
// them. Plain constants and lookups only; the decoder in vlp16_decoder.hpp uses them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velodyne {

// A data packet is the 1206-byte UDP payload: 12 data blocks, a 4-byte timestamp (microseconds
// past the hour, little-endian) and two factory bytes (return mode, product id).
inline constexpr std::size_t kPacketSize = 1206;
inline constexpr std::size_t kBlocksPerPacket = 12;
inline constexpr std::size_t kBlockSize = 100;
// Each block: flag 0xFF 0xEE, azimuth uint16 (0.01 degree, little-endian), then 32 channel returns
// of 3 bytes: distance uint16 (2 mm units, little-endian) and calibrated reflectivity uint8.
inline constexpr std::size_t kBlockAzimuthOffset = 2;
inline constexpr std::size_t kBlockReturnsOffset = 4;
inline constexpr std::size_t kReturnSize = 3;
inline constexpr std::size_t kReturnsPerBlock = 32;
inline constexpr std::size_t kTimestampOffset = 1200;
inline constexpr std::size_t kReturnModeOffset = 1204;
inline constexpr std::size_t kProductIdOffset = 1205;
inline constexpr std::uint8_t kFlagFirstByte = 0xFF;
inline constexpr std::uint8_t kFlagSecondByte = 0xEE;

inline constexpr double kDistanceUnitM = 0.002;
inline constexpr std::uint32_t kAzimuthUnitsPerTurn = 36000;  // 0.01 degree units
inline constexpr std::uint32_t kMicrosecondsPerHour = 3'600'000'000U;

// Factory bytes. Firmware older than 3.0.29 leaves both zero, which is accepted as "not given".
inline constexpr std::uint8_t kReturnModeStrongest = 0x37;
inline constexpr std::uint8_t kReturnModeLast = 0x38;
inline constexpr std::uint8_t kReturnModeDual = 0x39;
inline constexpr std::uint8_t kProductIdVlp16 = 0x22;  // shared with the Puck LITE

// A block holds two firing sequences of the 16 lasers. Lasers fire 2.304 us apart; a sequence,
// recharge included, lasts 55.296 us, so a block spans 110.592 us.
inline constexpr std::size_t kLasers = 16;
inline constexpr double kLaserFiringPeriodUs = 2.304;
inline constexpr double kSequencePeriodUs = 55.296;
inline constexpr double kBlockPeriodUs = 2.0 * kSequencePeriodUs;

// Elevation of laser `id` in degrees: the lasers fire interleaved, -15, +1, -13, +3, ... +15.
constexpr int laserElevationDeg(std::size_t id) {
  return id % 2 == 0 ? -15 + static_cast<int>(id) : static_cast<int>(id);
}

// Vertical offset of laser `id` from the sensor origin in millimetres, added to z after the
// spherical-to-Cartesian conversion: 11.2 mm for the -15 degree laser down to -11.2 mm for +15.
inline constexpr std::array<double, kLasers> kVerticalCorrectionMm{
    11.2, -0.7, 9.7, -2.2, 8.1, -3.7, 6.6, -5.1, 5.1, -6.6, 3.7, -8.1, 2.2, -9.7, 0.7, -11.2};

// Ring of laser `id`: its rank by elevation, 0 for the lowest (-15 degrees) to 15 for the highest.
constexpr std::uint16_t laserRing(std::size_t id) {
  return static_cast<std::uint16_t>(id % 2 == 0 ? id / 2 : kLasers / 2 + id / 2);
}

}  // namespace velodyne
