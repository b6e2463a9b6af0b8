// Chunk compression of MCAP files: the algorithms, their names in the file, and the codecs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bag_io {

enum class Compression { kNone, kZstd, kLz4 };

// The name written into a chunk: "", "zstd" or "lz4".
const char* compressionName(Compression compression);
// Inverse of compressionName; throws std::invalid_argument for an unknown name.
Compression compressionFromName(const std::string& name);

// Compresses `size` bytes. kNone copies. Throws std::runtime_error if the codec fails.
std::vector<std::uint8_t> compress(Compression compression, const std::uint8_t* data,
                                   std::size_t size);

// Decompresses into exactly `uncompressed_size` bytes. Throws std::runtime_error naming the
// codec's complaint when the input is damaged or does not decompress to that size.
std::vector<std::uint8_t> decompress(Compression compression, const std::uint8_t* data,
                                     std::size_t size, std::size_t uncompressed_size);

}  // namespace bag_io
