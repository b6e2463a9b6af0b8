// The node's intake of a sensor_msgs/PointCloud2: the check that the message's layout can be read
// without leaving its data, and the conversion of a checked message into x, y, z points.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <sensor_msgs/msg/point_cloud2.hpp>
#include <string>

namespace lidar_perception {

// Why a PointCloud2 cannot be read safely, or empty when it can.
std::string describeMalformedCloud(const sensor_msgs::msg::PointCloud2& msg);

// The x, y, z points of `msg` (through pcl_conversions, as a ROS 2 node converts), or the reason
// the message is refused (describeMalformedCloud). `cloud` is only written on success.
std::string convertLidarCloud(const sensor_msgs::msg::PointCloud2& msg,
                              pcl::PointCloud<pcl::PointXYZ>& cloud);

}  // namespace lidar_perception
