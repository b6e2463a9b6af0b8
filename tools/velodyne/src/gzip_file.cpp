#include "velodyne/gzip_file.hpp"

#include <fmt/format.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace velodyne {
namespace {

// Owns a zlib inflate stream; inflateEnd runs however the inflation ends.
class InflateStream {
 public:
  explicit InflateStream(const std::string& path) : path_(path) {
    // 16 + MAX_WBITS: expect a gzip wrapper, not a raw zlib stream.
    if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) {
      throw std::runtime_error(fmt::format("'{}': cannot start gzip decompression", path_));
    }
  }
  ~InflateStream() { inflateEnd(&stream_); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  std::vector<std::uint8_t> inflateAll(std::vector<std::uint8_t>& input) {
    if (input.size() > std::numeric_limits<uInt>::max()) {
      throw std::runtime_error(fmt::format("'{}': too large to decompress in one piece", path_));
    }
    std::vector<std::uint8_t> output;
    std::uint8_t chunk[1 << 16];
    stream_.next_in = input.data();
    stream_.avail_in = static_cast<uInt>(input.size());
    int status = Z_OK;
    while (status != Z_STREAM_END) {
      stream_.next_out = chunk;
      stream_.avail_out = sizeof(chunk);
      status = inflate(&stream_, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END) {
        // Z_BUF_ERROR with input left over cannot happen; without input it means truncation.
        const char* reason = status == Z_BUF_ERROR    ? "the gzip stream ends early"
                             : stream_.msg != nullptr ? stream_.msg
                                                      : "corrupt gzip data";
        throw std::runtime_error(
            fmt::format("'{}': {} (after {} compressed bytes)", path_, reason, stream_.total_in));
      }
      output.insert(output.end(), chunk, chunk + (sizeof(chunk) - stream_.avail_out));
    }
    return output;
  }

 private:
  std::string path_;
  z_stream stream_{};
};

}  // namespace

std::vector<std::uint8_t> readPossiblyGzippedFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw std::runtime_error(fmt::format("cannot open '{}': {}", path, std::strerror(errno)));
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
  if (file.bad()) {
    throw std::runtime_error(fmt::format("cannot read '{}'", path));
  }
  const bool gzipped = bytes.size() >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
  if (!gzipped) {
    return bytes;
  }
  InflateStream stream(path);
  return stream.inflateAll(bytes);
}

}  // namespace velodyne
