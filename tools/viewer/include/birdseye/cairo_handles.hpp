// Owning handles for cairo objects: each releases its reference when it goes out of scope.
#pragma once

#include <cairo.h>

#include <memory>

namespace birdseye {

struct CairoSurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoContextDeleter {
  void operator()(cairo_t* context) const { cairo_destroy(context); }
};

using CairoSurface = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;
using CairoContext = std::unique_ptr<cairo_t, CairoContextDeleter>;

}  // namespace birdseye
