// Bird's-eye predicates on rotated boxes, exported for callers that test boxes themselves.
// Pure functions; safe from any thread.
#pragma once

#include "trelvon/export.hpp"

namespace lidar_perception {
namespace trelvon {

struct Point {
  float x;
  float y;
};

// 1 when the bounding rectangles of segments p1-p2 and q1-q2 overlap or touch, else 0.
TRELVON_EXPORT int check_rect_cross(const Point& p1, const Point& p2, const Point& q1,
                                    const Point& q2);

// 1 when p lies inside the rotated footprint of `box` (seven floats x, y, z, length, width,
// height, yaw; length along yaw) grown by 0.01 m on every side, else 0.
TRELVON_EXPORT int check_in_box2d(const float* box, const Point& p);

}  // namespace trelvon
}  // namespace lidar_perception
