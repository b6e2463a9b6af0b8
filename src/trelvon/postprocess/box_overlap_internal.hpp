// The rotated-box geometry behind the non-maximum suppression. Boxes are seven floats (x, y, z,
// length, width, height, yaw); only x, y, length, width and yaw are read. Pure functions.
#pragma once

#include "trelvon/box_overlap.hpp"

namespace lidar_perception {
namespace trelvon {

// Crossing point of segment p0->p1 with segment q0->q1 into `out`; false when the segments do
// not cross properly (touching or collinear segments give no point).
bool segment_intersection(const Point& p1, const Point& p0, const Point& q1, const Point& q0,
                          Point& out);

// Area of the overlap of the two footprints; `a` is the higher-scored box.
float polygon_overlap_area(const float* a, const float* b);

// Bird's-eye intersection over union; the union is floored at 1e-8.
float bev_iou(const float* a, const float* b);

}  // namespace trelvon
}  // namespace lidar_perception
