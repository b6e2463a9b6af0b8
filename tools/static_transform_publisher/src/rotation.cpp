#include "static_transform_publisher/rotation.hpp"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace static_transform_publisher {

Quaternion fromRollPitchYaw(double roll, double pitch, double yaw) {
  const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
  const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
  return {sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy, cr * cp * sy - sr * sp * cy,
          cr * cp * cy + sr * sp * sy};
}

Quaternion normalized(const Quaternion& q) {
  const double norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  if (!(norm > 0.0) || !std::isfinite(norm)) {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "the quaternion (%g, %g, %g, %g) has norm %g and describes no rotation", q.x, q.y,
                  q.z, q.w, norm);
    throw std::invalid_argument(text);
  }
  return {q.x / norm, q.y / norm, q.z / norm, q.w / norm};
}

}  // namespace static_transform_publisher
