// Writing a PointCloud2 message as a PCD file with PCL's writer.
#pragma once

#include <sensor_msgs/msg/point_cloud2.hpp>

#include <string>

namespace velodyne {

// Writes every field of `cloud` (binary PCD unless `ascii`), so a 24-byte sweep keeps its ring
// and time. Throws std::invalid_argument for a cloud whose data does not match its layout and
// std::runtime_error naming the file when it cannot be written.
void writePcd(const sensor_msgs::msg::PointCloud2& cloud, const std::string& path,
              bool ascii = false);

}  // namespace velodyne
