#include "birdseye/scene.hpp"

#include <fmt/format.h>

#include <cmath>
#include <stdexcept>

namespace birdseye {
namespace {

void requireFinite(double value, const std::string& what) {
  if (!std::isfinite(value)) {
    throw std::invalid_argument(fmt::format("scene: {} must be finite, got {}", what, value));
  }
}

void requireNonNegative(double value, const std::string& what) {
  requireFinite(value, what);
  if (value < 0.0) {
    throw std::invalid_argument(fmt::format("scene: {} must be >= 0, got {}", what, value));
  }
}

}  // namespace

void validateScene(const Scene& scene) {
  constexpr int kMinSide = 16;
  constexpr int kMaxSide = 8192;
  if (scene.width_px < kMinSide || scene.width_px > kMaxSide) {
    throw std::invalid_argument(fmt::format("scene: width_px must be in {}..{}, got {}", kMinSide,
                                            kMaxSide, scene.width_px));
  }
  if (scene.height_px < kMinSide || scene.height_px > kMaxSide) {
    throw std::invalid_argument(fmt::format("scene: height_px must be in {}..{}, got {}", kMinSide,
                                            kMaxSide, scene.height_px));
  }
  if (!(scene.metres_per_pixel > 0.0) || !std::isfinite(scene.metres_per_pixel)) {
    throw std::invalid_argument(fmt::format(
        "scene: metres_per_pixel must be > 0 and finite, got {}", scene.metres_per_pixel));
  }
  if (!(scene.point_size_px > 0.0) || !std::isfinite(scene.point_size_px)) {
    throw std::invalid_argument(
        fmt::format("scene: point_size_px must be > 0 and finite, got {}", scene.point_size_px));
  }
  requireFinite(scene.centre_x, "centre_x");
  requireFinite(scene.centre_y, "centre_y");
  for (std::size_t i = 0; i < scene.points.size(); ++i) {
    const ScenePoint& p = scene.points[i];
    if (p.class_index >= scene.classes.size()) {
      throw std::invalid_argument(
          fmt::format("scene: point {} has class index {}, but there are {} classes", i,
                      p.class_index, scene.classes.size()));
    }
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
      throw std::invalid_argument(
          fmt::format("scene: point {} has a non-finite coordinate ({}, {})", i, p.x, p.y));
    }
  }
  for (std::size_t i = 0; i < scene.boxes.size(); ++i) {
    const SceneBox& b = scene.boxes[i];
    const std::string name = fmt::format("box {} ", i);
    requireFinite(b.x, name + "x");
    requireFinite(b.y, name + "y");
    requireFinite(b.yaw, name + "yaw");
    requireNonNegative(b.length, name + "length");
    requireNonNegative(b.width, name + "width");
  }
  for (std::size_t i = 0; i < scene.frusta.size(); ++i) {
    const Frustum& f = scene.frusta[i];
    const std::string name = fmt::format("frustum {} ", i);
    requireFinite(f.apex_x, name + "apex_x");
    requireFinite(f.apex_y, name + "apex_y");
    requireFinite(f.start_deg, name + "start_deg");
    requireFinite(f.end_deg, name + "end_deg");
    requireNonNegative(f.range, name + "range");
    if (std::abs(f.end_deg - f.start_deg) > 360.0) {
      throw std::invalid_argument(
          fmt::format("scene: frustum {} spans {} degrees ({} to {}); at most 360", i,
                      f.end_deg - f.start_deg, f.start_deg, f.end_deg));
    }
  }
  if (scene.footprint) {
    requireFinite(scene.footprint->x_front, "footprint x_front");
    requireFinite(scene.footprint->x_back, "footprint x_back");
    requireNonNegative(scene.footprint->y_half, "footprint y_half");
    if (scene.footprint->x_back > scene.footprint->x_front) {
      throw std::invalid_argument(
          fmt::format("scene: footprint x_back ({}) must not exceed x_front ({})",
                      scene.footprint->x_back, scene.footprint->x_front));
    }
  }
  if (scene.region) {
    requireNonNegative(scene.region->x_half, "region x_half");
    requireNonNegative(scene.region->y_half, "region y_half");
  }
}

}  // namespace birdseye
