// The ground-plane outline of a detected box, as the node reads a BBox.
#pragma once

#include <array>

#include "trelvon/bbox.hpp"

namespace lidar_perception {

struct FootprintCorner {
  float x;
  float y;
};

// Corners A, B, C, D of a box's footprint, in this order around the box.
using BoxFootprint = std::array<FootprintCorner, 4>;

// The node lays the box's width along its yaw direction and its length across it (the detector's
// own overlap geometry does the opposite; markers and fusion both use this reading). With
// c = cos(yaw), s = sin(yaw), corner (u, v) is (x + c*u - s*v, y + s*u + c*v) for
// A = (-w/2, -l/2), B = (w/2, -l/2), C = (w/2, l/2), D = (-w/2, l/2). Float arithmetic.
BoxFootprint boxFootprint(const trelvon::BBox& box);

// Even-odd (crossing-number) test of (px, py) against the quadrilateral, edges A-B, B-C, C-D,
// D-A, in float and without tolerance: points on an edge fall as the arithmetic takes them.
bool insideFootprint(const BoxFootprint& footprint, float px, float py);

}  // namespace lidar_perception
