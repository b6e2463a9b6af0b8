#include "velodyne/rawlog_reader.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "velodyne/gzip_file.hpp"
#include "velodyne/vlp16_layout.hpp"

namespace velodyne {
namespace {

bool hasFlagAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return at + 1 < bytes.size() && bytes[at] == kFlagFirstByte && bytes[at + 1] == kFlagSecondByte;
}

// Whether all 12 block flags of a packet starting at `at` are in place.
bool hasAllFlagsAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  for (std::size_t b = 0; b < kBlocksPerPacket; ++b) {
    if (!hasFlagAt(bytes, at + b * kBlockSize)) {
      return false;
    }
  }
  return true;
}

}  // namespace

FoundPackets findVlp16Packets(const std::vector<std::uint8_t>& bytes) {
  FoundPackets found;
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (!hasAllFlagsAt(bytes, at)) {
      ++at;
      continue;
    }
    do {
      const std::size_t end = std::min(at + kPacketSize, bytes.size());
      found.packets.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(end));
      found.offsets.push_back(at);
      at = end;
    } while (hasFlagAt(bytes, at));
  }
  return found;
}

FoundPackets readRawlogPackets(const std::string& path) {
  const std::vector<std::uint8_t> bytes = readPossiblyGzippedFile(path);
  FoundPackets found = findVlp16Packets(bytes);
  if (found.packets.empty()) {
    throw std::runtime_error(fmt::format(
        "'{}' holds no VLP-16 data packets ({} bytes searched for 12 block flags 0xFFEE "
        "100 bytes apart)",
        path, bytes.size()));
  }
  return found;
}

}  // namespace velodyne
