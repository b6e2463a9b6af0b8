// Rotations given on the command line, as unit quaternions.
#pragma once

namespace static_transform_publisher {

struct Quaternion {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double w = 1.0;
};

// The rotation by `roll` about x, then `pitch` about y, then `yaw` about z, all about the fixed
// parent axes (radians), as tf2's setRPY builds it.
Quaternion fromRollPitchYaw(double roll, double pitch, double yaw);

// `q` scaled to unit length. Throws std::invalid_argument when its norm is zero or not finite,
// since no rotation is meant by it.
Quaternion normalized(const Quaternion& q);

}  // namespace static_transform_publisher
