// zstd compression of whole buffers, with the library's contexts owned by RAII handles.
#pragma once

#include <cstdint>
#include <vector>

namespace bag_io {

std::vector<std::uint8_t> zstdCompress(const std::uint8_t* data, std::size_t size, int level);
// Throws std::runtime_error with zstd's reason, or when the output is not `uncompressed_size`.
std::vector<std::uint8_t> zstdDecompress(const std::uint8_t* data, std::size_t size,
                                         std::size_t uncompressed_size);

}  // namespace bag_io
