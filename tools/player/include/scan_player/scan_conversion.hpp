// Conversions between the two scan messages the node reads.
#pragma once

#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

namespace scan_player {

// The Livox driver's message from a PointCloud2 with float32 x, y and z. Intensity (float32,
// uint8 or uint16) becomes the reflectivity, clamped to 0..255; per-point time comes from an
// "offset_time" field (uint32 nanoseconds) or a "time"/"t" field (float32 seconds, or uint32
// nanoseconds for "t") when there is one, else 0; "ring" or "line" gives the line. Points with a
// non-finite coordinate are left out. Throws std::invalid_argument naming the problem for a
// cloud without float32 x, y, z or whose data is shorter than its declared size.
livox_ros_driver2::msg::CustomMsg toCustomMsg(const sensor_msgs::msg::PointCloud2& cloud);

// x, y, z and intensity (the reflectivity) as float32, one row, with the message's stamp.
sensor_msgs::msg::PointCloud2 toPointCloud2(const livox_ros_driver2::msg::CustomMsg& custom);

}  // namespace scan_player
