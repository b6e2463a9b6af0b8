#include "zstd_codec.hpp"

#include <fmt/format.h>
#include <zstd.h>

#include <memory>
#include <stdexcept>

namespace bag_io {
namespace {

struct CCtxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

}  // namespace

std::vector<std::uint8_t> zstdCompress(const std::uint8_t* data, std::size_t size, int level) {
  std::unique_ptr<ZSTD_CCtx, CCtxFree> context(ZSTD_createCCtx());
  if (context == nullptr) {
    throw std::runtime_error("zstd: cannot create a compression context");
  }
  std::vector<std::uint8_t> out(ZSTD_compressBound(size));
  const std::size_t n = ZSTD_compressCCtx(context.get(), out.data(), out.size(), data, size, level);
  if (ZSTD_isError(n) != 0U) {
    throw std::runtime_error(fmt::format("zstd compression failed: {}", ZSTD_getErrorName(n)));
  }
  out.resize(n);
  return out;
}

std::vector<std::uint8_t> zstdDecompress(const std::uint8_t* data, std::size_t size,
                                         std::size_t uncompressed_size) {
  std::unique_ptr<ZSTD_DCtx, DCtxFree> context(ZSTD_createDCtx());
  if (context == nullptr) {
    throw std::runtime_error("zstd: cannot create a decompression context");
  }
  std::vector<std::uint8_t> out(uncompressed_size);
  const std::size_t n = ZSTD_decompressDCtx(context.get(), out.data(), out.size(), data, size);
  if (ZSTD_isError(n) != 0U) {
    throw std::runtime_error(fmt::format("zstd decompression failed: {}", ZSTD_getErrorName(n)));
  }
  if (n != uncompressed_size) {
    throw std::runtime_error(fmt::format(
        "zstd data decompressed to {} bytes, the chunk declares {}", n, uncompressed_size));
  }
  return out;
}

}  // namespace bag_io
