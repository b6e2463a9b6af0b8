// The PointCloud2 message of a decoded sweep.
#pragma once

#include <sensor_msgs/msg/point_cloud2.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "velodyne/vlp16_point.hpp"

namespace velodyne {

// The frame the sweep's points are expressed in, as the node and the simulator name the lidar.
inline constexpr const char* kLidarFrameId = "3d_lidar_link";

enum class CloudLayout {
  // x, y, z, intensity as float32 at offsets 0, 4, 8, 12: the simulator's 16-byte points.
  kXyzi,
  // The same four fields, then ring uint16 at 16 and time float32 (seconds since the sweep's
  // first firing) at 20: 24-byte points. Readers that look fields up by name see the same x, y,
  // z and intensity.
  kXyziRingTime,
};

// One row of little-endian points, dense (decoded returns are all finite), stamped `stamp_ns`
// in `frame_id`. Throws std::invalid_argument when `stamp_ns` is negative or the cloud is too
// large for a message (more than 2^32 - 1 bytes per row).
sensor_msgs::msg::PointCloud2 toPointCloud2(const std::vector<Vlp16Point>& points,
                                            std::int64_t stamp_ns,
                                            CloudLayout layout = CloudLayout::kXyziRingTime,
                                            const std::string& frame_id = kLidarFrameId);

}  // namespace velodyne
