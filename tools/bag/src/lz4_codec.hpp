// LZ4 frame-format compression of whole buffers, with the decompression context owned by an
// RAII handle.
#pragma once

#include <cstdint>
#include <vector>

namespace bag_io {

std::vector<std::uint8_t> lz4Compress(const std::uint8_t* data, std::size_t size);
// Throws std::runtime_error with lz4's reason, or when the output is not `uncompressed_size`.
std::vector<std::uint8_t> lz4Decompress(const std::uint8_t* data, std::size_t size,
                                        std::size_t uncompressed_size);

}  // namespace bag_io
