#include "lz4_codec.hpp"

#include <fmt/format.h>
#include <lz4frame.h>

#include <memory>
#include <stdexcept>

namespace bag_io {
namespace {

struct DCtxFree {
  void operator()(LZ4F_dctx* d) const { LZ4F_freeDecompressionContext(d); }
};

}  // namespace

std::vector<std::uint8_t> lz4Compress(const std::uint8_t* data, std::size_t size) {
  LZ4F_preferences_t preferences{};
  preferences.frameInfo.contentSize = size;  // lets readers size their buffer
  std::vector<std::uint8_t> out(LZ4F_compressFrameBound(size, &preferences));
  const std::size_t n = LZ4F_compressFrame(out.data(), out.size(), data, size, &preferences);
  if (LZ4F_isError(n) != 0U) {
    throw std::runtime_error(fmt::format("lz4 compression failed: {}", LZ4F_getErrorName(n)));
  }
  out.resize(n);
  return out;
}

std::vector<std::uint8_t> lz4Decompress(const std::uint8_t* data, std::size_t size,
                                        std::size_t uncompressed_size) {
  LZ4F_dctx* raw = nullptr;
  const std::size_t created = LZ4F_createDecompressionContext(&raw, LZ4F_VERSION);
  std::unique_ptr<LZ4F_dctx, DCtxFree> context(raw);
  if (LZ4F_isError(created) != 0U) {
    throw std::runtime_error(
        fmt::format("lz4: cannot create a decompression context: {}", LZ4F_getErrorName(created)));
  }
  std::vector<std::uint8_t> out(uncompressed_size);
  std::size_t in_pos = 0;
  std::size_t out_pos = 0;
  std::size_t hint = 1;
  // The frame may hold several blocks: run until the frame ends (hint 0) or input runs out.
  while (hint != 0) {
    std::size_t in_size = size - in_pos;
    std::size_t out_size = out.size() - out_pos;
    if (in_size == 0) {
      throw std::runtime_error("lz4 frame ends before its end mark (truncated data)");
    }
    hint = LZ4F_decompress(context.get(), out.data() + out_pos, &out_size, data + in_pos, &in_size,
                           nullptr);
    if (LZ4F_isError(hint) != 0U) {
      throw std::runtime_error(
          fmt::format("lz4 decompression failed: {}", LZ4F_getErrorName(hint)));
    }
    in_pos += in_size;
    out_pos += out_size;
    if (in_size == 0 && out_size == 0 && hint != 0) {
      // No progress: the output buffer is full but the frame goes on.
      throw std::runtime_error(fmt::format(
          "lz4 data decompresses to more than the {} bytes the chunk declares", uncompressed_size));
    }
  }
  if (out_pos != uncompressed_size) {
    throw std::runtime_error(fmt::format("lz4 data decompressed to {} bytes, the chunk declares {}",
                                         out_pos, uncompressed_size));
  }
  return out;
}

}  // namespace bag_io
