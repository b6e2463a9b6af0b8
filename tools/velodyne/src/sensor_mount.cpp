#include "velodyne/sensor_mount.hpp"

#include <fmt/format.h>

#include <cmath>
#include <stdexcept>

#include "velodyne/cloud_message.hpp"

namespace velodyne {

geometry_msgs::msg::TransformStamped sensorMountTransform(std::int64_t stamp_ns, double height_m) {
  if (stamp_ns < 0) {
    throw std::invalid_argument(fmt::format("mount stamp must be >= 0 ns, got {}", stamp_ns));
  }
  if (!std::isfinite(height_m)) {
    throw std::invalid_argument(fmt::format("mount height must be finite, got {}", height_m));
  }
  geometry_msgs::msg::TransformStamped message;
  message.header.stamp.sec = static_cast<std::int32_t>(stamp_ns / 1'000'000'000);
  message.header.stamp.nanosec = static_cast<std::uint32_t>(stamp_ns % 1'000'000'000);
  message.header.frame_id = kBaseFrameId;
  message.child_frame_id = kLidarFrameId;
  message.transform.translation.x = 0.0;
  message.transform.translation.y = 0.0;
  message.transform.translation.z = height_m;
  // A turn by -90 degrees about z: (w, z) = (cos(-45 deg), sin(-45 deg)).
  const double half = std::sqrt(0.5);
  message.transform.rotation.w = half;
  message.transform.rotation.x = 0.0;
  message.transform.rotation.y = 0.0;
  message.transform.rotation.z = -half;
  return message;
}

}  // namespace velodyne
