// The layout of the clouds lidar drivers publish, for CDR tests and benchmarks: one row of x, y,
// z, intensity float32 points, 16 bytes each.
#pragma once

#include <cstdint>
#include <string>

#include <sensor_msgs/msg/point_cloud2.hpp>

namespace cdr_test {

// `points` zeroed points in `frame_id`; callers write the data they need.
inline sensor_msgs::msg::PointCloud2 xyziPointCloud(std::uint32_t points,
                                                    const std::string& frame_id) {
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = frame_id;
  cloud.height = 1;
  cloud.width = points;
  const char* names[] = {"x", "y", "z", "intensity"};
  for (std::uint32_t i = 0; i < 4; ++i) {
    sensor_msgs::msg::PointField field;
    field.name = names[i];
    field.offset = 4 * i;
    field.datatype = sensor_msgs::msg::PointField::FLOAT32;
    field.count = 1;
    cloud.fields.push_back(field);
  }
  cloud.point_step = 16;
  cloud.row_step = points * cloud.point_step;
  cloud.data.resize(cloud.row_step);
  return cloud;
}

}  // namespace cdr_test
