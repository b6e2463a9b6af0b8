#include "velodyne/vlp16_decoder.hpp"

#include <fmt/format.h>

#include <array>
#include <cmath>

#include "velodyne/packet_error.hpp"
#include "velodyne/vlp16_layout.hpp"

namespace velodyne {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::uint16_t readU16(const PacketBytes& packet, std::size_t offset) {
  return static_cast<std::uint16_t>(packet[offset] | (packet[offset + 1] << 8));
}

std::uint32_t readU32(const PacketBytes& packet, std::size_t offset) {
  return static_cast<std::uint32_t>(packet[offset]) |
         (static_cast<std::uint32_t>(packet[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(packet[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(packet[offset + 3]) << 24);
}

void checkSize(const PacketBytes& packet, std::size_t packet_index) {
  if (packet.size() != kPacketSize) {
    // A short packet ends at its size; a long one goes wrong right after the last valid byte.
    const std::size_t offset = packet.size() < kPacketSize ? packet.size() : kPacketSize;
    throw MalformedPacketError(packet_index, offset,
                               fmt::format("VLP-16 packet {}: holds {} bytes, a data packet has "
                                           "{} (fault at byte offset {})",
                                           packet_index, packet.size(), kPacketSize, offset));
  }
}

// Checks everything but the size (checked first) and returns the block azimuths.
std::array<std::uint16_t, kBlocksPerPacket> checkLayout(const PacketBytes& packet,
                                                        std::size_t packet_index) {
  std::array<std::uint16_t, kBlocksPerPacket> azimuths{};
  for (std::size_t b = 0; b < kBlocksPerPacket; ++b) {
    const std::size_t start = b * kBlockSize;
    if (packet[start] != kFlagFirstByte || packet[start + 1] != kFlagSecondByte) {
      throw MalformedPacketError(
          packet_index, start,
          fmt::format("VLP-16 packet {}: block {} flag at byte offset {} is 0x{:02X}{:02X}, "
                      "expected 0xFFEE",
                      packet_index, b, start, packet[start], packet[start + 1]));
    }
    azimuths[b] = readU16(packet, start + kBlockAzimuthOffset);
    if (azimuths[b] >= kAzimuthUnitsPerTurn) {
      throw MalformedPacketError(
          packet_index, start + kBlockAzimuthOffset,
          fmt::format("VLP-16 packet {}: block {} azimuth at byte offset {} is {}, must be < {}",
                      packet_index, b, start + kBlockAzimuthOffset, azimuths[b],
                      kAzimuthUnitsPerTurn));
    }
  }
  const std::uint32_t stamp = readU32(packet, kTimestampOffset);
  if (stamp >= kMicrosecondsPerHour) {
    throw MalformedPacketError(
        packet_index, kTimestampOffset,
        fmt::format("VLP-16 packet {}: timestamp at byte offset {} is {} us, past the hour ({})",
                    packet_index, kTimestampOffset, stamp, kMicrosecondsPerHour));
  }
  const std::uint8_t mode = packet[kReturnModeOffset];
  if (mode != 0 && mode != kReturnModeStrongest && mode != kReturnModeLast) {
    throw MalformedPacketError(
        packet_index, kReturnModeOffset,
        fmt::format("VLP-16 packet {}: return mode 0x{:02X} at byte offset {} is not decoded "
                    "(single return modes 0x{:02X} strongest and 0x{:02X} last are)",
                    packet_index, mode, kReturnModeOffset, kReturnModeStrongest, kReturnModeLast));
  }
  const std::uint8_t product = packet[kProductIdOffset];
  if (product != 0 && product != kProductIdVlp16) {
    throw MalformedPacketError(
        packet_index, kProductIdOffset,
        fmt::format("VLP-16 packet {}: product id 0x{:02X} at byte offset {} is not a VLP-16 "
                    "(0x{:02X})",
                    packet_index, product, kProductIdOffset, kProductIdVlp16));
  }
  return azimuths;
}

// Azimuth advance from block b to the next, in 0.01 degree units, across the 36000 wrap.
double azimuthStep(const std::array<std::uint16_t, kBlocksPerPacket>& azimuths, std::size_t b) {
  const std::size_t from = b + 1 < kBlocksPerPacket ? b : b - 1;
  const int step = static_cast<int>(azimuths[from + 1]) - static_cast<int>(azimuths[from]);
  return step < 0 ? step + static_cast<int>(kAzimuthUnitsPerTurn) : step;
}

struct LaserTrig {
  double cos_elevation;
  double sin_elevation;
};

const std::array<LaserTrig, kLasers>& laserTrig() {
  static const std::array<LaserTrig, kLasers> table = [] {
    std::array<LaserTrig, kLasers> t{};
    for (std::size_t id = 0; id < kLasers; ++id) {
      const double w = laserElevationDeg(id) * kPi / 180.0;
      t[id] = {std::cos(w), std::sin(w)};
    }
    return t;
  }();
  return table;
}

}  // namespace

std::uint32_t packetTimestampUs(const PacketBytes& packet, std::size_t packet_index) {
  checkSize(packet, packet_index);
  return readU32(packet, kTimestampOffset);
}

void decodePacket(const PacketBytes& packet, std::size_t packet_index, double packet_time_s,
                  std::vector<Vlp16Point>& out) {
  checkSize(packet, packet_index);
  const std::array<std::uint16_t, kBlocksPerPacket> azimuths = checkLayout(packet, packet_index);
  const std::array<LaserTrig, kLasers>& trig = laserTrig();
  for (std::size_t b = 0; b < kBlocksPerPacket; ++b) {
    const double step = azimuthStep(azimuths, b);
    const std::size_t returns = b * kBlockSize + kBlockReturnsOffset;
    for (std::size_t k = 0; k < kReturnsPerBlock; ++k) {
      const std::size_t offset = returns + k * kReturnSize;
      const std::uint16_t distance = readU16(packet, offset);
      if (distance == 0) {
        continue;
      }
      const std::size_t laser = k % kLasers;
      const double firing_us =
          static_cast<double>(k / kLasers) * kSequencePeriodUs + laser * kLaserFiringPeriodUs;
      double azimuth = azimuths[b] + step * firing_us / kBlockPeriodUs;
      if (azimuth >= kAzimuthUnitsPerTurn) {
        azimuth -= kAzimuthUnitsPerTurn;
      }
      const double a = azimuth * 0.01 * kPi / 180.0;
      const double range = distance * kDistanceUnitM;
      const double horizontal = range * trig[laser].cos_elevation;
      Vlp16Point p;
      p.x = static_cast<float>(horizontal * std::sin(a));
      p.y = static_cast<float>(horizontal * std::cos(a));
      p.z = static_cast<float>(range * trig[laser].sin_elevation +
                               kVerticalCorrectionMm[laser] * 0.001);
      p.intensity = static_cast<float>(packet[offset + 2]);
      p.ring = laserRing(laser);
      p.time_offset = static_cast<float>(packet_time_s + (b * kBlockPeriodUs + firing_us) * 1e-6);
      out.push_back(p);
    }
  }
}

std::vector<Vlp16Point> decodeSweep(const std::vector<PacketBytes>& packets) {
  std::vector<Vlp16Point> points;
  points.reserve(packets.size() * kBlocksPerPacket * kReturnsPerBlock);
  if (packets.empty()) {
    return points;
  }
  const std::uint32_t first_stamp = packetTimestampUs(packets.front(), 0);
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const std::uint32_t stamp = packetTimestampUs(packets[i], i);
    // Timestamps count microseconds past the hour: a sweep that crosses the hour wraps.
    const std::uint32_t since_first =
        stamp >= first_stamp ? stamp - first_stamp : stamp + (kMicrosecondsPerHour - first_stamp);
    decodePacket(packets[i], i, since_first * 1e-6, points);
  }
  return points;
}

}  // namespace velodyne
