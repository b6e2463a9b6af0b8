// Decoding of VLP-16 data packets (single return mode) into points in the sensor frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "velodyne/vlp16_point.hpp"

namespace velodyne {

// The bytes of one data packet: the 1206-byte UDP payload, without network headers.
using PacketBytes = std::vector<std::uint8_t>;

// The 4-byte timestamp of a packet: microseconds past the hour of its first firing.
// Throws MalformedPacketError when the packet is shorter than a data packet.
std::uint32_t packetTimestampUs(const PacketBytes& packet, std::size_t packet_index);

// Appends the returns of one packet to `out`; zero distances (no return) are left out.
// `packet_time_s` is the time of the packet's first firing relative to the sweep start; each
// point's time_offset adds its firing time inside the packet.
//
// Each point's azimuth is interpolated from its block's azimuth towards the next block's (over
// the 36000 wrap) by its firing time, so the second firing sequence of a block lies halfway; the
// last block of a packet uses the azimuth step of the block pair before it.
//
// Throws MalformedPacketError naming `packet_index` and the byte offset of the fault for a packet
// that is not 1206 bytes, lacks a 0xFFEE block flag, holds an azimuth >= 36000 or a timestamp
// past the hour, or reports dual return mode or a product other than the VLP-16. On a throw
// `out` holds no point of this packet.
void decodePacket(const PacketBytes& packet, std::size_t packet_index, double packet_time_s,
                  std::vector<Vlp16Point>& out);

// Decodes consecutive packets of one sweep. Time offsets count from the first packet's
// timestamp (wrapping at the hour). Throws MalformedPacketError for the first malformed packet.
std::vector<Vlp16Point> decodeSweep(const std::vector<PacketBytes>& packets);

}  // namespace velodyne
