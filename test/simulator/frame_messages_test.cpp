// Messages built from simulated frames, decoded field by field the way a subscriber would.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "lidar_sim/frame_messages.hpp"
#include "lidar_sim/lidar_simulator.hpp"

namespace lidar_sim {
namespace {

SimulatedFrame simulate(const std::string& preset, std::uint32_t index) {
  const Scenario scenario = parseScenario(YAML::Load(R"(
start_time: 1000.95
lidar: {preset: )" + preset + R"(, mount: {xyz: [0.1, 0, 0.3], rpy_deg: [0, 0, 90]}}
walls: [{rectangle: [-5, -5, 5, 5]}]
people: [{path: [[-3, 2], [3, 2]], loop: true}]
robot: {path: [[0, 0], [2, 1]], speed: 0.5}
)"),
                                          "test");
  LidarSimulator simulator(scenario);
  return simulator.simulateFrame(index);
}

TEST(FrameMessagesTest, CustomMsgTimesSpanTheFrame) {
  for (const char* preset : {"spinning16", "livox"}) {
    const SimulatedFrame frame = simulate(preset, 2);
    const livox_ros_driver2::msg::CustomMsg message = toCustomMsg(frame, 3);
    // Frame 2 starts 0.2 s after 1000.95 s.
    EXPECT_EQ(message.header.stamp.sec, 1001);
    EXPECT_EQ(message.header.stamp.nanosec, 150'000'000U);
    EXPECT_EQ(message.timebase, 1'001'150'000'000ULL);
    EXPECT_EQ(message.header.frame_id, "3d_lidar_link");
    EXPECT_EQ(message.lidar_id, 3);
    ASSERT_EQ(message.point_num, message.points.size());
    ASSERT_GT(message.points.size(), 10000U);
    for (std::size_t i = 1; i < message.points.size(); ++i) {
      ASSERT_GE(message.points[i].offset_time, message.points[i - 1].offset_time) << preset;
    }
    EXPECT_LT(message.points.front().offset_time, 1'000'000U) << preset;
    EXPECT_GT(message.points.back().offset_time, 99'000'000U) << preset;
    EXPECT_LT(message.points.back().offset_time, 100'000'000U) << preset;
    const pcl::PointXYZI& p = frame.cloud->points[100];
    EXPECT_EQ(message.points[100].x, p.x);
    EXPECT_EQ(message.points[100].z, p.z);
    EXPECT_EQ(message.points[100].reflectivity, std::lround(p.intensity));
  }
}

TEST(FrameMessagesTest, PointCloud2DecodesToTheCloud) {
  const SimulatedFrame frame = simulate("spinning16", 0);
  const sensor_msgs::msg::PointCloud2 message = toPointCloud2(frame);
  ASSERT_EQ(message.fields.size(), 4U);
  const char* names[] = {"x", "y", "z", "intensity"};
  for (std::size_t f = 0; f < 4; ++f) {
    EXPECT_EQ(message.fields[f].name, names[f]);
    EXPECT_EQ(message.fields[f].offset, 4 * f);
    EXPECT_EQ(message.fields[f].datatype, sensor_msgs::msg::PointField::FLOAT32);
    EXPECT_EQ(message.fields[f].count, 1U);
  }
  EXPECT_EQ(message.height, 1U);
  EXPECT_EQ(message.width, frame.size());
  EXPECT_EQ(message.data.size(), static_cast<std::size_t>(message.row_step));
  EXPECT_EQ(message.row_step, message.point_step * message.width);
  EXPECT_EQ(message.header.stamp.sec, 1000);
  EXPECT_EQ(message.header.stamp.nanosec, 950'000'000U);
  for (std::size_t i = 0; i < frame.size(); i += 997) {
    float values[4];
    std::memcpy(values, message.data.data() + i * message.point_step, sizeof(values));
    const pcl::PointXYZI& p = frame.cloud->points[i];
    EXPECT_EQ(values[0], p.x);
    EXPECT_EQ(values[1], p.y);
    EXPECT_EQ(values[2], p.z);
    EXPECT_EQ(values[3], p.intensity);
  }
}

TEST(FrameMessagesTest, TransformsCarryPoseAndMount) {
  const SimulatedFrame frame = simulate("spinning16", 20);  // t = 2 s, 1 m along the route
  const geometry_msgs::msg::TransformStamped pose = robotPoseTransform(frame);
  EXPECT_EQ(pose.header.frame_id, "map");
  EXPECT_EQ(pose.child_frame_id, "base_footprint");
  const Eigen::Vector2d heading = Eigen::Vector2d(2, 1).normalized();
  EXPECT_NEAR(pose.transform.translation.x, heading.x(), 1e-9);
  EXPECT_NEAR(pose.transform.translation.y, heading.y(), 1e-9);
  const double yaw = std::atan2(heading.y(), heading.x());
  EXPECT_NEAR(pose.transform.rotation.z, std::sin(yaw / 2), 1e-9);
  EXPECT_NEAR(pose.transform.rotation.w, std::cos(yaw / 2), 1e-9);

  const geometry_msgs::msg::TransformStamped mount = mountTransform(frame);
  EXPECT_EQ(mount.header.frame_id, "base_footprint");
  EXPECT_EQ(mount.child_frame_id, "3d_lidar_link");
  EXPECT_NEAR(mount.transform.translation.x, 0.1, 1e-12);
  EXPECT_NEAR(mount.transform.translation.z, 0.3, 1e-12);
  EXPECT_NEAR(mount.transform.rotation.z, std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(mount.transform.rotation.w, std::sqrt(0.5), 1e-12);

  const builtin_interfaces::msg::Time before_epoch = toTimeMsg(-1'500'000'000);
  EXPECT_EQ(before_epoch.sec, -2);
  EXPECT_EQ(before_epoch.nanosec, 500'000'000U);
}

}  // namespace
}  // namespace lidar_sim
