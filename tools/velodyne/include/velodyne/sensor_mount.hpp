// Where the VLP-16 of the mrpt-common sweep sits on the robot, as the static transform the node
// looks up.
#pragma once

#include <geometry_msgs/msg/transform_stamped.hpp>

#include <cstdint>

namespace velodyne {

inline constexpr const char* kBaseFrameId = "base_footprint";
// Height of the sensor origin above the ground in the mrpt-common sweep: the ground returns lie
// about 2.25 m below it.
inline constexpr double kMrptSweepSensorHeightM = 2.25;

// base_footprint -> 3d_lidar_link: the sensor origin `height_m` above the base origin, turned
// -90 degrees about z so that the sensor's azimuth 0 (its +y) faces the robot's forward (+x) and
// its +x the robot's right (-y). Stamped `stamp_ns`. Throws std::invalid_argument for a negative
// stamp or a height that is not finite.
geometry_msgs::msg::TransformStamped sensorMountTransform(
    std::int64_t stamp_ns, double height_m = kMrptSweepSensorHeightM);

}  // namespace velodyne
