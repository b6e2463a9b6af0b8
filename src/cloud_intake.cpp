#include "cloud_intake.hpp"

#include <fmt/format.h>

#include <cstdint>

#include <pcl_conversions/pcl_conversions.h>

namespace lidar_perception {

std::string describeMalformedCloud(const sensor_msgs::msg::PointCloud2& msg) {
  const uint64_t points = static_cast<uint64_t>(msg.width) * msg.height;
  if (msg.point_step == 0 && points > 0) {
    // Points of no bytes: the data cannot bound their number, and the conversion would allocate
    // width x height points.
    return fmt::format("point_step is 0 for width {} x height {} points", msg.width, msg.height);
  }
  const uint64_t row_bytes = static_cast<uint64_t>(msg.width) * msg.point_step;
  if (msg.row_step < row_bytes) {
    return fmt::format("row_step {} is smaller than width {} x point_step {} = {}", msg.row_step,
                       msg.width, msg.point_step, row_bytes);
  }
  const uint64_t needed = static_cast<uint64_t>(msg.height) * msg.row_step;
  if (msg.data.size() < needed) {
    return fmt::format("data holds {} bytes but height {} x row_step {} needs {}", msg.data.size(),
                       msg.height, msg.row_step, needed);
  }
  for (const auto& field : msg.fields) {
    if (field.name != "x" && field.name != "y" && field.name != "z") {
      continue;
    }
    if (field.datatype == sensor_msgs::msg::PointField::FLOAT32 &&
        static_cast<uint64_t>(field.offset) + 4 > msg.point_step) {
      return fmt::format("field '{}' at offset {} does not fit in point_step {}", field.name,
                         field.offset, msg.point_step);
    }
  }
  return {};
}

std::string convertLidarCloud(const sensor_msgs::msg::PointCloud2& msg,
                              pcl::PointCloud<pcl::PointXYZ>& cloud) {
  std::string malformed = describeMalformedCloud(msg);
  if (!malformed.empty()) {
    return malformed;
  }
  if (static_cast<uint64_t>(msg.width) * msg.height == 0) {
    // What pcl::fromPCLPointCloud2 gives for a cloud without points, without its copy loop,
    // which takes the address of the first point of the empty output.
    cloud.clear();
    pcl_conversions::toPCL(msg.header, cloud.header);
    cloud.width = msg.width;
    cloud.height = msg.height;
    cloud.is_dense = msg.is_dense != 0;
    return {};
  }
  pcl::PCLPointCloud2 pcl_cloud;
  pcl_conversions::toPCL(msg, pcl_cloud);
  pcl::fromPCLPointCloud2(pcl_cloud, cloud);
  return {};
}

}  // namespace lidar_perception
