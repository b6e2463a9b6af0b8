#include "picture_reader.hpp"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace birdseye {
namespace test {

CairoSurface readPng(const std::string& path) {
  CairoSurface surface(cairo_image_surface_create_from_png(path.c_str()));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    ADD_FAILURE() << "cannot read PNG " << path << ": "
                  << cairo_status_to_string(cairo_surface_status(surface.get()));
  }
  return surface;
}

Rgb8 pixelAt(cairo_surface_t* image, int u, int v) {
  const int width = cairo_image_surface_get_width(image);
  const int height = cairo_image_surface_get_height(image);
  if (u < 0 || v < 0 || u >= width || v >= height) {
    throw std::out_of_range("pixel outside the picture");
  }
  const unsigned char* row = cairo_image_surface_get_data(image) +
                             static_cast<std::size_t>(v) * cairo_image_surface_get_stride(image);
  std::uint32_t word;
  std::memcpy(&word, row + 4 * u, sizeof word);
  return {static_cast<int>((word >> 16) & 0xff), static_cast<int>((word >> 8) & 0xff),
          static_cast<int>(word & 0xff)};
}

bool near(const Rgb8& actual, const Rgb& expected, int tolerance) {
  auto channel = [&](int a, double e) { return std::abs(a - std::lround(e * 255.0)) <= tolerance; };
  return channel(actual.r, expected.r) && channel(actual.g, expected.g) &&
         channel(actual.b, expected.b);
}

namespace {
struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
}  // namespace

GifContents readGif(const std::string& path) {
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpenFileName(path.c_str(), &error));
  if (gif == nullptr) {
    throw std::runtime_error("cannot open GIF " + path + ": " + GifErrorString(error));
  }
  if (DGifSlurp(gif.get()) != GIF_OK) {
    throw std::runtime_error("cannot read GIF " + path + ": " + GifErrorString(gif->Error));
  }
  GifContents contents;
  contents.width = gif->SWidth;
  contents.height = gif->SHeight;
  contents.frames = gif->ImageCount;
  for (int k = 0; k < gif->ImageCount; ++k) {
    const SavedImage& image = gif->SavedImages[k];
    GraphicsControlBlock control{};
    if (DGifSavedExtensionToGCB(gif.get(), k, &control) == GIF_OK) {
      contents.delays_cs.push_back(control.DelayTime);
    } else {
      contents.delays_cs.push_back(-1);
    }
    for (int e = 0; e + 1 < image.ExtensionBlockCount; ++e) {
      const ExtensionBlock& block = image.ExtensionBlocks[e];
      const ExtensionBlock& next = image.ExtensionBlocks[e + 1];
      if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
          std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0 && next.ByteCount == 3) {
        contents.loop_count = next.Bytes[1] | (next.Bytes[2] << 8);
      }
    }
    const ColorMapObject* palette =
        image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
    std::vector<Rgb8> pixels;
    const int count = image.ImageDesc.Width * image.ImageDesc.Height;
    for (int i = 0; i < count && palette != nullptr; ++i) {
      const GifColorType& c = palette->Colors[image.RasterBits[i]];
      pixels.push_back({c.Red, c.Green, c.Blue});
    }
    contents.pixels.push_back(std::move(pixels));
  }
  return contents;
}

}  // namespace test
}  // namespace birdseye
