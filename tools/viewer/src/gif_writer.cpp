#include "birdseye/gif_writer.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <gif_lib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

namespace birdseye {

namespace {

struct ColorMapDeleter {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using ColorMap = std::unique_ptr<ColorMapObject, ColorMapDeleter>;

constexpr int kPaletteSize = 256;

}  // namespace

// Owns the open giflib encoder; closing it writes the trailer and frees giflib's state.
struct GifWriter::Handle {
  GifFileType* gif{nullptr};

  // Returns giflib's error code, or D_GIF_SUCCEEDED (0) when the file closed cleanly.
  int close() {
    int error = 0;
    if (gif != nullptr) {
      const int result = EGifCloseFile(gif, &error);  // frees `gif` whatever the result
      gif = nullptr;
      if (result == GIF_OK) {
        error = 0;
      }
    }
    return error;
  }
  ~Handle() { close(); }
};

GifWriter::GifWriter(const std::string& path, int width_px, int height_px, int delay_cs,
                     int loop_count)
    : handle_(std::make_unique<Handle>()),
      path_(path),
      width_px_(width_px),
      height_px_(height_px),
      delay_cs_(delay_cs) {
  if (width_px < 1 || width_px > 65535 || height_px < 1 || height_px > 65535) {
    throw std::invalid_argument(fmt::format(
        "GIF size must be 1..65535 pixels on each side, got {}x{}", width_px, height_px));
  }
  if (delay_cs < 0 || delay_cs > 65535) {
    throw std::invalid_argument(
        fmt::format("GIF frame delay must be 0..65535 hundredths of a second, got {}", delay_cs));
  }
  if (loop_count < 0 || loop_count > 65535) {
    throw std::invalid_argument(
        fmt::format("GIF loop count must be 0..65535 (0: forever), got {}", loop_count));
  }
  // Opened here rather than by EGifOpenFileName, which creates files readable by their owner
  // only; this way the user's umask decides, as for the PNG files.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw GifError(fmt::format("cannot create GIF file '{}': {}", path, std::strerror(errno)));
  }
  int error = 0;
  handle_->gif = EGifOpenFileHandle(fd, &error);  // owns `fd` from here on success
  if (handle_->gif == nullptr) {
    ::close(fd);
    throw GifError(fmt::format("cannot create GIF file '{}': {}", path, GifErrorString(error)));
  }
  EGifSetGifVersion(handle_->gif, true);
  // No global palette: every frame brings its own, quantised from its own colours.
  if (EGifPutScreenDesc(handle_->gif, width_px, height_px, 8, 0, nullptr) != GIF_OK) {
    throw GifError(
        fmt::format("cannot write GIF file '{}': {}", path, GifErrorString(handle_->gif->Error)));
  }
  // The NETSCAPE2.0 application extension that viewers read the loop count from.
  static const char kNetscape[] = "NETSCAPE2.0";
  const unsigned char loop[3] = {1, static_cast<unsigned char>(loop_count & 0xff),
                                 static_cast<unsigned char>((loop_count >> 8) & 0xff)};
  if (EGifPutExtensionLeader(handle_->gif, APPLICATION_EXT_FUNC_CODE) != GIF_OK ||
      EGifPutExtensionBlock(handle_->gif, 11, kNetscape) != GIF_OK ||
      EGifPutExtensionBlock(handle_->gif, 3, loop) != GIF_OK ||
      EGifPutExtensionTrailer(handle_->gif) != GIF_OK) {
    throw GifError(
        fmt::format("cannot write GIF file '{}': {}", path, GifErrorString(handle_->gif->Error)));
  }
}

GifWriter::~GifWriter() = default;
GifWriter::GifWriter(GifWriter&&) noexcept = default;
GifWriter& GifWriter::operator=(GifWriter&&) noexcept = default;

void GifWriter::append(cairo_surface_t* image) {
  if (handle_ == nullptr || handle_->gif == nullptr) {
    throw std::logic_error(fmt::format("GIF file '{}' is already closed", path_));
  }
  if (image == nullptr || cairo_surface_get_type(image) != CAIRO_SURFACE_TYPE_IMAGE) {
    throw std::invalid_argument("GIF frame must be a cairo image surface");
  }
  const cairo_format_t format = cairo_image_surface_get_format(image);
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) {
    throw std::invalid_argument("GIF frame must be an ARGB32 or RGB24 image");
  }
  const int width = cairo_image_surface_get_width(image);
  const int height = cairo_image_surface_get_height(image);
  if (width != width_px_ || height != height_px_) {
    throw std::invalid_argument(fmt::format("GIF frame is {}x{} pixels, the file is {}x{}", width,
                                            height, width_px_, height_px_));
  }
  cairo_surface_flush(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);

  // giflib's quantiser takes one plane per channel; cairo keeps 0xAARRGGBB words (opaque here,
  // so premultiplication changes nothing).
  const std::size_t count = static_cast<std::size_t>(width) * height;
  std::vector<GifByteType> red(count), green(count), blue(count), indices(count);
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      std::uint32_t word;
      std::memcpy(&word, data + static_cast<std::size_t>(row) * stride + col * 4, sizeof word);
      const std::size_t i = static_cast<std::size_t>(row) * width + col;
      red[i] = static_cast<GifByteType>((word >> 16) & 0xff);
      green[i] = static_cast<GifByteType>((word >> 8) & 0xff);
      blue[i] = static_cast<GifByteType>(word & 0xff);
    }
  }
  ColorMap palette(GifMakeMapObject(kPaletteSize, nullptr));
  if (palette == nullptr) {
    throw GifError(fmt::format("GIF file '{}': cannot allocate a palette", path_));
  }
  int palette_size = kPaletteSize;
  if (GifQuantizeBuffer(width, height, &palette_size, red.data(), green.data(), blue.data(),
                        indices.data(), palette->Colors) != GIF_OK) {
    throw GifError(fmt::format("GIF file '{}': cannot quantise frame {}", path_, frames_written_));
  }

  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.UserInputFlag = false;
  control.DelayTime = delay_cs_;
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  const std::size_t extension_size = EGifGCBToExtension(&control, extension);
  GifFileType* gif = handle_->gif;
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extension_size), extension) !=
          GIF_OK ||
      EGifPutImageDesc(gif, 0, 0, width, height, false, palette.get()) != GIF_OK) {
    throw GifError(fmt::format("cannot write frame {} to GIF file '{}': {}", frames_written_, path_,
                               GifErrorString(gif->Error)));
  }
  for (int row = 0; row < height; ++row) {
    if (EGifPutLine(gif, indices.data() + static_cast<std::size_t>(row) * width, width) != GIF_OK) {
      throw GifError(fmt::format("cannot write frame {} to GIF file '{}': {}", frames_written_,
                                 path_, GifErrorString(gif->Error)));
    }
  }
  ++frames_written_;
}

void GifWriter::close() {
  if (handle_ == nullptr) {
    return;
  }
  const bool had_file = handle_->gif != nullptr;
  const int error = handle_->close();
  if (had_file && frames_written_ == 0) {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    throw GifError(fmt::format("GIF file '{}' has no frames; removed it", path_));
  }
  if (error != 0) {
    throw GifError(fmt::format("cannot finish GIF file '{}': {}", path_, GifErrorString(error)));
  }
}

}  // namespace birdseye
