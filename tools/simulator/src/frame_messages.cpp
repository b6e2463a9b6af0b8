#include "lidar_sim/frame_messages.hpp"

#include <sensor_msgs/msg/point_field.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lidar_sim {

namespace {

sensor_msgs::msg::PointField floatField(const std::string& name, std::uint32_t offset) {
  sensor_msgs::msg::PointField field;
  field.name = name;
  field.offset = offset;
  field.datatype = sensor_msgs::msg::PointField::FLOAT32;
  field.count = 1;
  return field;
}

}  // namespace

builtin_interfaces::msg::Time toTimeMsg(std::int64_t stamp_ns) {
  builtin_interfaces::msg::Time time;
  // Floor division keeps nanosec in [0, 1e9) also before the epoch.
  std::int64_t sec = stamp_ns / 1'000'000'000;
  std::int64_t nanosec = stamp_ns % 1'000'000'000;
  if (nanosec < 0) {
    nanosec += 1'000'000'000;
    --sec;
  }
  time.sec = static_cast<std::int32_t>(sec);
  time.nanosec = static_cast<std::uint32_t>(nanosec);
  return time;
}

sensor_msgs::msg::PointCloud2 toPointCloud2(const SimulatedFrame& frame) {
  constexpr std::uint32_t kPointStep = 16;
  sensor_msgs::msg::PointCloud2 message;
  message.header.stamp = toTimeMsg(frame.stamp_ns);
  message.header.frame_id = frame.frame_ids.lidar;
  const std::size_t count = frame.cloud == nullptr ? 0 : frame.cloud->size();
  message.height = 1;
  message.width = static_cast<std::uint32_t>(count);
  message.fields = {floatField("x", 0), floatField("y", 4), floatField("z", 8),
                    floatField("intensity", 12)};
  message.is_bigendian = false;
  message.point_step = kPointStep;
  message.row_step = kPointStep * message.width;
  message.data.resize(static_cast<std::size_t>(message.row_step));
  std::uint8_t* out = message.data.data();
  for (std::size_t i = 0; i < count; ++i) {
    const pcl::PointXYZI& p = (*frame.cloud)[i];
    const float values[4] = {p.x, p.y, p.z, p.intensity};
    std::memcpy(out + i * kPointStep, values, sizeof(values));
  }
  message.is_dense = true;
  return message;
}

livox_ros_driver2::msg::CustomMsg toCustomMsg(const SimulatedFrame& frame, std::uint8_t lidar_id) {
  livox_ros_driver2::msg::CustomMsg message;
  message.header.stamp = toTimeMsg(frame.stamp_ns);
  message.header.frame_id = frame.frame_ids.lidar;
  message.timebase = static_cast<std::uint64_t>(frame.stamp_ns);
  message.lidar_id = lidar_id;
  const std::size_t count = frame.cloud == nullptr ? 0 : frame.cloud->size();
  message.point_num = static_cast<std::uint32_t>(count);
  message.points.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const pcl::PointXYZI& p = (*frame.cloud)[i];
    livox_ros_driver2::msg::CustomPoint& out = message.points[i];
    out.offset_time = i < frame.offset_time_ns.size() ? frame.offset_time_ns[i] : 0U;
    out.x = p.x;
    out.y = p.y;
    out.z = p.z;
    out.reflectivity =
        static_cast<std::uint8_t>(std::lround(std::clamp(p.intensity, 0.0F, 255.0F)));
    out.tag = 0;
    out.line = i < frame.line.size() ? frame.line[i] : 0U;
  }
  return message;
}

geometry_msgs::msg::TransformStamped toTransformStamped(const Eigen::Isometry3d& parent_to_child,
                                                        const std::string& parent,
                                                        const std::string& child,
                                                        std::int64_t stamp_ns) {
  geometry_msgs::msg::TransformStamped message;
  message.header.stamp = toTimeMsg(stamp_ns);
  message.header.frame_id = parent;
  message.child_frame_id = child;
  const Eigen::Vector3d t = parent_to_child.translation();
  message.transform.translation.x = t.x();
  message.transform.translation.y = t.y();
  message.transform.translation.z = t.z();
  const Eigen::Quaterniond q(parent_to_child.linear());
  message.transform.rotation.x = q.x();
  message.transform.rotation.y = q.y();
  message.transform.rotation.z = q.z();
  message.transform.rotation.w = q.w();
  return message;
}

geometry_msgs::msg::TransformStamped robotPoseTransform(const SimulatedFrame& frame) {
  return toTransformStamped(frame.map_to_base, frame.frame_ids.map, frame.frame_ids.base,
                            frame.stamp_ns);
}

geometry_msgs::msg::TransformStamped mountTransform(const SimulatedFrame& frame) {
  return toTransformStamped(frame.base_to_lidar, frame.frame_ids.base, frame.frame_ids.lidar,
                            frame.stamp_ns);
}

}  // namespace lidar_sim
