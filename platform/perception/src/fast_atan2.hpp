// Azimuth computation cheap enough for every point of every frame.
#pragma once

#include <cmath>

namespace norvel {
namespace perception {
namespace detail {

// atan2(y, x) in (-pi, pi] with an absolute error below 1e-4 rad (a minimax polynomial on the
// octant), several times faster than std::atan2. Good for binning, not for geometry.
// (0, 0) gives 0; non-finite input gives an unspecified value.
inline float fastAtan2(float y, float x) {
  constexpr float kPi = 3.14159265358979F;
  constexpr float kHalfPi = 1.57079632679490F;
  const float abs_x = std::fabs(x);
  const float abs_y = std::fabs(y);
  if (abs_x == 0.0F && abs_y == 0.0F) {
    return 0.0F;
  }
  const bool steep = abs_y > abs_x;
  const float t = steep ? abs_x / abs_y : abs_y / abs_x;
  const float t2 = t * t;
  // atan(t) on [0, 1].
  float angle = ((((-0.0117212F * t2 + 0.05265332F) * t2 - 0.11643287F) * t2 + 0.19354346F) * t2 -
                 0.33262347F) *
                    t2 * t +
                0.99997726F * t;
  if (steep) {
    angle = kHalfPi - angle;
  }
  if (x < 0.0F) {
    angle = kPi - angle;
  }
  return y < 0.0F ? -angle : angle;
}

}  // namespace detail
}  // namespace perception
}  // namespace norvel
