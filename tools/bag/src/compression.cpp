#include "bag_io/compression.hpp"

#include <stdexcept>

#include "lz4_codec.hpp"
#include "zstd_codec.hpp"

namespace bag_io {
namespace {
// zstd's default level: a good ratio at a few hundred MB/s, fast enough for live recording.
constexpr int kZstdLevel = 3;
}  // namespace

const char* compressionName(Compression compression) {
  switch (compression) {
    case Compression::kZstd:
      return "zstd";
    case Compression::kLz4:
      return "lz4";
    case Compression::kNone:
      break;
  }
  return "";
}

Compression compressionFromName(const std::string& name) {
  if (name.empty()) {
    return Compression::kNone;
  }
  if (name == "zstd") {
    return Compression::kZstd;
  }
  if (name == "lz4") {
    return Compression::kLz4;
  }
  throw std::invalid_argument("unknown chunk compression '" + name + "' (known: zstd, lz4, none)");
}

std::vector<std::uint8_t> compress(Compression compression, const std::uint8_t* data,
                                   std::size_t size) {
  switch (compression) {
    case Compression::kZstd:
      return zstdCompress(data, size, kZstdLevel);
    case Compression::kLz4:
      return lz4Compress(data, size);
    case Compression::kNone:
      break;
  }
  return std::vector<std::uint8_t>(data, data + size);
}

std::vector<std::uint8_t> decompress(Compression compression, const std::uint8_t* data,
                                     std::size_t size, std::size_t uncompressed_size) {
  switch (compression) {
    case Compression::kZstd:
      return zstdDecompress(data, size, uncompressed_size);
    case Compression::kLz4:
      return lz4Decompress(data, size, uncompressed_size);
    case Compression::kNone:
      break;
  }
  if (size != uncompressed_size) {
    throw std::runtime_error("uncompressed chunk holds " + std::to_string(size) +
                             " bytes but declares " + std::to_string(uncompressed_size));
  }
  return std::vector<std::uint8_t>(data, data + size);
}

}  // namespace bag_io
