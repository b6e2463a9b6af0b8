// Draws a Scene with cairo into an image surface or a PNG file.
#pragma once

#include <stdexcept>
#include <string>

#include "birdseye/cairo_handles.hpp"
#include "birdseye/scene.hpp"

namespace birdseye {

// A picture could not be drawn or written; the message names the file and cairo's reason.
class RenderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Draws the scene onto a new opaque ARGB32 image of the scene's size. Throws
// std::invalid_argument for a scene that validateScene rejects, RenderError when cairo fails.
CairoSurface renderImage(const Scene& scene);

// Draws the scene and writes it as a PNG file at `path`. Throws as renderImage, and RenderError
// naming `path` when the file cannot be written.
void renderPng(const Scene& scene, const std::string& path);

}  // namespace birdseye
