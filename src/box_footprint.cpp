#include "box_footprint.hpp"

#include <cmath>

namespace lidar_perception {

BoxFootprint boxFootprint(const trelvon::BBox& box) {
  const float c = std::cos(box.yaw);
  const float s = std::sin(box.yaw);
  const float half_w = box.width / 2.0f;
  const float half_l = box.length / 2.0f;
  auto corner = [&](float u, float v) {
    return FootprintCorner{box.x + c * u - s * v, box.y + s * u + c * v};
  };
  return {corner(-half_w, -half_l), corner(half_w, -half_l), corner(half_w, half_l),
          corner(-half_w, half_l)};
}

bool insideFootprint(const BoxFootprint& footprint, float px, float py) {
  bool inside = false;
  for (size_t j = 0; j < footprint.size(); ++j) {
    const FootprintCorner& a = footprint[j];
    const FootprintCorner& b = footprint[(j + 1) % footprint.size()];
    if ((a.y > py) != (b.y > py) && px < (b.x - a.x) * (py - a.y) / (b.y - a.y) + a.x) {
      inside = !inside;
    }
  }
  return inside;
}

}  // namespace lidar_perception
