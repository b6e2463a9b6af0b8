// The command line of static_transform_publisher.
#pragma once

#include <string>
#include <vector>

#include "static_transform_publisher/rotation.hpp"

namespace static_transform_publisher {

// One transform from the command line: translation in metres, a unit rotation, the two frames.
struct TransformArguments {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  Quaternion rotation;
  std::string frame_id;
  std::string child_frame_id;
  // Given in one of the positional forms, which tf2_ros keeps only for old scripts.
  bool old_style = false;
};

// Reads `args` (without the program name and without ROS arguments):
//   --x X --y Y --z Z [--qx QX --qy QY --qz QZ --qw QW | --roll R --pitch P --yaw Y]
//       --frame-id F --child-frame-id C
// where every number is optional (translation 0, identity rotation), or the positional forms
//   X Y Z YAW PITCH ROLL F C      and      X Y Z QX QY QZ QW F C.
// The quaternion is normalised. Throws UsageError for an unknown option, an option without its
// value, a positional count of neither form, quaternion and Euler angles together and a missing
// or empty frame; std::invalid_argument for a value that is not a finite number, a quaternion of
// zero norm and a child frame equal to its parent.
TransformArguments parseTransformArguments(const std::vector<std::string>& args);

// The text --help prints.
std::string usageText();

}  // namespace static_transform_publisher
