// Finding VLP-16 data packets inside a recording file, such as the rawlog data set that Debian's
// mrpt-common package ships.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "velodyne/vlp16_decoder.hpp"

namespace velodyne {

// The packets found in a file, in file order, with where each starts in the (inflated) bytes.
struct FoundPackets {
  std::vector<PacketBytes> packets;
  std::vector<std::size_t> offsets;
};

// Finds the data packets in `bytes`. A run of packets starts where 12 block flags 0xFFEE follow
// each other 100 bytes apart; it goes on packet after packet (1206 bytes each) while the next one
// starts with a block flag. A packet of a run that is damaged further in (a missing flag, a
// truncated end) is kept as it is, for the decoder to reject with its offset. Searching resumes
// after a run, so several runs are collected.
FoundPackets findVlp16Packets(const std::vector<std::uint8_t>& bytes);

// Reads `path` (gzip-compressed or not) and finds its packets. Throws std::runtime_error naming
// the file when it cannot be read or decompressed, or holds no VLP-16 data packet.
FoundPackets readRawlogPackets(const std::string& path);

}  // namespace velodyne
