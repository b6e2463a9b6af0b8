// Builders of the ROS messages a real driver and robot would publish for a simulated frame.
#pragma once

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include <builtin_interfaces/msg/time.hpp>

#include <Eigen/Geometry>

#include <cstdint>
#include <string>

#include "lidar_sim/simulated_frame.hpp"

namespace lidar_sim {

builtin_interfaces::msg::Time toTimeMsg(std::int64_t stamp_ns);

// x, y, z, intensity as float32 (16-byte points, little-endian), one row, stamped with the frame
// stamp in the lidar frame.
sensor_msgs::msg::PointCloud2 toPointCloud2(const SimulatedFrame& frame);

// The Livox driver's message: header stamp and timebase at the frame stamp, offset_time per point
// in nanoseconds after it, reflectivity from the intensity, line from the ring or laser.
livox_ros_driver2::msg::CustomMsg toCustomMsg(const SimulatedFrame& frame,
                                              std::uint8_t lidar_id = 0);

geometry_msgs::msg::TransformStamped toTransformStamped(const Eigen::Isometry3d& parent_to_child,
                                                        const std::string& parent,
                                                        const std::string& child,
                                                        std::int64_t stamp_ns);
// map -> base_footprint at the frame stamp.
geometry_msgs::msg::TransformStamped robotPoseTransform(const SimulatedFrame& frame);
// base_footprint -> lidar, the static mount, stamped with the frame stamp.
geometry_msgs::msg::TransformStamped mountTransform(const SimulatedFrame& frame);

}  // namespace lidar_sim
