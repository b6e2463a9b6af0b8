// One detected 3-D box, as the detector returns it.
#pragma once

#include <cstdint>

namespace lidar_perception {
namespace trelvon {

// Nine 4-byte fields, nothing else: consumers copy the records field by field.
struct BBox {
  float x;        // centre x, metres, in the frame of the input cloud
  float y;        // centre y, metres
  float z;        // height of the bottom face (centre z minus half the height), metres
  float length;   // size along the heading, metres
  float width;    // size across the heading, metres
  float height;   // vertical size, metres
  float yaw;      // heading about +z from +x, radians, in [dir_offset, dir_offset + 2 pi)
  int32_t label;  // class index: the channel of the highest class score at the box's anchor
  float score;    // sigmoid of the class logit, in (0, 1)
};

static_assert(sizeof(BBox) == 36, "BBox is nine 4-byte fields");

}  // namespace trelvon
}  // namespace lidar_perception
