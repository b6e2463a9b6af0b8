// One decoded VLP-16 return.
#pragma once

#include <cstdint>

namespace velodyne {

// A return in the sensor's own frame as the maker's manual defines it: origin on the rotation
// axis, z up along it, y towards azimuth 0, x towards azimuth 90 degrees (the head turns
// clockwise seen from above). x = R cos(w) sin(a), y = R cos(w) cos(a), z = R sin(w) plus the
// laser's vertical correction.
struct Vlp16Point {
  float x{};
  float y{};
  float z{};
  float intensity{};     // calibrated reflectivity, 0..255
  std::uint16_t ring{};  // 0 = lowest laser (-15 degrees) .. 15 = highest (+15 degrees)
  float time_offset{};   // seconds since the first firing of the sweep's first packet
};

}  // namespace velodyne
