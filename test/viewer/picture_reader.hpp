// Test helpers that read pictures back: PNG through cairo, GIF through giflib's decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "birdseye/cairo_handles.hpp"
#include "birdseye/scene.hpp"

namespace birdseye {
namespace test {

struct Rgb8 {
  int r;
  int g;
  int b;
};

// Loads a PNG with cairo_image_surface_create_from_png; fails the calling test when it cannot.
CairoSurface readPng(const std::string& path);

// The colour of pixel (column u, row v) of an ARGB32 or RGB24 image (opaque pictures).
Rgb8 pixelAt(cairo_surface_t* image, int u, int v);

// True when every channel of `actual` is within `tolerance` of `expected` (channels 0..1).
bool near(const Rgb8& actual, const Rgb& expected, int tolerance = 24);

// One GIF as giflib's DGifSlurp reads it.
struct GifContents {
  int width{0};
  int height{0};
  int frames{0};
  std::vector<int> delays_cs;             // per frame, from its graphics control extension
  int loop_count{-1};                     // from the NETSCAPE2.0 extension; -1 when absent
  std::vector<std::vector<Rgb8>> pixels;  // per frame, row-major, through its palette
};
GifContents readGif(const std::string& path);

}  // namespace test
}  // namespace birdseye
