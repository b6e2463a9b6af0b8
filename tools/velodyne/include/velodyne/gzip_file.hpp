// Reading a whole file that may be gzip-compressed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velodyne {

// The bytes of `path`, inflated when the file starts with the gzip magic (0x1F 0x8B), as they
// are otherwise. Throws std::runtime_error naming the file when it cannot be opened or read, or
// when its gzip stream is corrupt or truncated.
std::vector<std::uint8_t> readPossiblyGzippedFile(const std::string& path);

}  // namespace velodyne
