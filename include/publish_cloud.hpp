// The one routine that turns an xyz cloud into a PointCloud2 and publishes it.
#pragma once

#include <memory>
#include <string>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl_conversions/pcl_conversions.h>
#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

namespace lidar_perception {

// Converts `cloud` with the standard PCL conversion (x, y, z float32 at 0, 4, 8; point step 16),
// stamps it with `frame_id` and `stamp` and publishes it. An empty publisher pointer makes this a
// no-op; publication errors of the client library propagate.
inline void publishCloud(
    const pcl::PointCloud<pcl::PointXYZ>& cloud, const rclcpp::Time& stamp,
    const std::shared_ptr<rclcpp::Publisher<sensor_msgs::msg::PointCloud2>>& publisher,
    const std::string& frame_id) {
  if (publisher == nullptr) {
    return;
  }
  sensor_msgs::msg::PointCloud2 message;
  pcl::toROSMsg(cloud, message);  // an unorganised cloud gets height 1 and width = point count
  message.header.frame_id = frame_id;
  message.header.stamp = stamp;
  publisher->publish(message);
}

}  // namespace lidar_perception
