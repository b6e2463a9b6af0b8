#include "velodyne/cloud_message.hpp"

#include <fmt/format.h>

#include <cstring>
#include <limits>
#include <stdexcept>

namespace velodyne {
namespace {

sensor_msgs::msg::PointField field(const char* name, std::uint32_t offset, std::uint8_t datatype) {
  sensor_msgs::msg::PointField f;
  f.name = name;
  f.offset = offset;
  f.datatype = datatype;
  f.count = 1;
  return f;
}

}  // namespace

sensor_msgs::msg::PointCloud2 toPointCloud2(const std::vector<Vlp16Point>& points,
                                            std::int64_t stamp_ns, CloudLayout layout,
                                            const std::string& frame_id) {
  if (stamp_ns < 0) {
    throw std::invalid_argument(fmt::format("cloud stamp must be >= 0 ns, got {}", stamp_ns));
  }
  using sensor_msgs::msg::PointField;
  const bool extended = layout == CloudLayout::kXyziRingTime;
  const std::uint32_t point_step = extended ? 24 : 16;
  if (points.size() > std::numeric_limits<std::uint32_t>::max() / point_step) {
    throw std::invalid_argument(
        fmt::format("{} points do not fit one PointCloud2 row of {}-byte "
                    "points",
                    points.size(), point_step));
  }
  sensor_msgs::msg::PointCloud2 message;
  message.header.stamp.sec = static_cast<std::int32_t>(stamp_ns / 1'000'000'000);
  message.header.stamp.nanosec = static_cast<std::uint32_t>(stamp_ns % 1'000'000'000);
  message.header.frame_id = frame_id;
  message.height = 1;
  message.width = static_cast<std::uint32_t>(points.size());
  message.fields = {field("x", 0, PointField::FLOAT32), field("y", 4, PointField::FLOAT32),
                    field("z", 8, PointField::FLOAT32),
                    field("intensity", 12, PointField::FLOAT32)};
  if (extended) {
    message.fields.push_back(field("ring", 16, PointField::UINT16));
    message.fields.push_back(field("time", 20, PointField::FLOAT32));
  }
  message.is_bigendian = false;
  message.point_step = point_step;
  message.row_step = point_step * message.width;
  message.data.assign(message.row_step, 0);  // padding bytes 18..19 stay zero
  std::uint8_t* out = message.data.data();
  for (const Vlp16Point& p : points) {
    const float xyzi[4] = {p.x, p.y, p.z, p.intensity};
    std::memcpy(out, xyzi, sizeof(xyzi));
    if (extended) {
      std::memcpy(out + 16, &p.ring, sizeof(p.ring));
      std::memcpy(out + 20, &p.time_offset, sizeof(p.time_offset));
    }
    out += point_step;
  }
  message.is_dense = true;
  return message;
}

}  // namespace velodyne
