// The PointCloud2 of a sweep and the static mount transform.
#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "velodyne/cloud_message.hpp"
#include "velodyne/sensor_mount.hpp"

namespace {

using sensor_msgs::msg::PointField;
using velodyne::CloudLayout;
using velodyne::Vlp16Point;

template <typename T>
T readAt(const sensor_msgs::msg::PointCloud2& cloud, std::size_t point, std::uint32_t offset) {
  T value{};
  std::memcpy(&value, cloud.data.data() + point * cloud.point_step + offset, sizeof(T));
  return value;
}

const std::vector<Vlp16Point> kPoints = {{1.5F, -2.25F, 3.0F, 17.0F, 4, 0.25F},
                                         {-0.5F, 8.0F, -2.0F, 255.0F, 15, 0.0625F}};

TEST(CloudMessage, ExtendedLayoutKeepsTheSimulatorFieldsAndAddsRingAndTime) {
  const auto cloud = velodyne::toPointCloud2(kPoints, 1'500'000'123);
  EXPECT_EQ(cloud.header.frame_id, "3d_lidar_link");
  EXPECT_EQ(cloud.header.stamp.sec, 1);
  EXPECT_EQ(cloud.header.stamp.nanosec, 500'000'123U);
  EXPECT_EQ(cloud.height, 1U);
  EXPECT_EQ(cloud.width, 2U);
  EXPECT_EQ(cloud.point_step, 24U);
  EXPECT_EQ(cloud.row_step, 48U);
  EXPECT_EQ(cloud.data.size(), 48U);
  EXPECT_FALSE(cloud.is_bigendian);
  EXPECT_TRUE(cloud.is_dense);
  const char* names[] = {"x", "y", "z", "intensity", "ring", "time"};
  const std::uint32_t offsets[] = {0, 4, 8, 12, 16, 20};
  const std::uint8_t types[] = {PointField::FLOAT32, PointField::FLOAT32, PointField::FLOAT32,
                                PointField::FLOAT32, PointField::UINT16,  PointField::FLOAT32};
  ASSERT_EQ(cloud.fields.size(), 6U);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(cloud.fields[i].name, names[i]);
    EXPECT_EQ(cloud.fields[i].offset, offsets[i]);
    EXPECT_EQ(cloud.fields[i].datatype, types[i]);
    EXPECT_EQ(cloud.fields[i].count, 1U);
  }
  EXPECT_EQ(readAt<float>(cloud, 0, 0), 1.5F);
  EXPECT_EQ(readAt<float>(cloud, 0, 4), -2.25F);
  EXPECT_EQ(readAt<float>(cloud, 0, 8), 3.0F);
  EXPECT_EQ(readAt<float>(cloud, 0, 12), 17.0F);
  EXPECT_EQ(readAt<std::uint16_t>(cloud, 0, 16), 4);
  EXPECT_EQ(readAt<float>(cloud, 0, 20), 0.25F);
  EXPECT_EQ(readAt<float>(cloud, 1, 4), 8.0F);
  EXPECT_EQ(readAt<std::uint16_t>(cloud, 1, 16), 15);
  EXPECT_EQ(readAt<float>(cloud, 1, 20), 0.0625F);
}

TEST(CloudMessage, SimulatorLayoutHasSixteenBytePoints) {
  const auto cloud = velodyne::toPointCloud2(kPoints, 0, CloudLayout::kXyzi, "velodyne");
  EXPECT_EQ(cloud.header.frame_id, "velodyne");
  EXPECT_EQ(cloud.point_step, 16U);
  EXPECT_EQ(cloud.row_step, 32U);
  ASSERT_EQ(cloud.fields.size(), 4U);
  EXPECT_EQ(cloud.fields[3].name, "intensity");
  EXPECT_EQ(cloud.fields[3].offset, 12U);
  EXPECT_EQ(readAt<float>(cloud, 1, 0), -0.5F);
  EXPECT_EQ(readAt<float>(cloud, 1, 8), -2.0F);
  EXPECT_EQ(readAt<float>(cloud, 1, 12), 255.0F);

  const auto empty = velodyne::toPointCloud2({}, 0);
  EXPECT_EQ(empty.width, 0U);
  EXPECT_TRUE(empty.data.empty());
  EXPECT_THROW(velodyne::toPointCloud2(kPoints, -1), std::invalid_argument);
}

TEST(SensorMount, PutsTheSensorAboveTheBaseFacingForward) {
  const auto mount = velodyne::sensorMountTransform(2'000'000'001);
  EXPECT_EQ(mount.header.frame_id, "base_footprint");
  EXPECT_EQ(mount.child_frame_id, "3d_lidar_link");
  EXPECT_EQ(mount.header.stamp.sec, 2);
  EXPECT_EQ(mount.header.stamp.nanosec, 1U);
  const auto& r = mount.transform.rotation;
  const Eigen::Quaterniond q(r.w, r.x, r.y, r.z);
  EXPECT_NEAR(q.norm(), 1.0, 1e-12);
  const auto& t = mount.transform.translation;
  const Eigen::Vector3d translation(t.x, t.y, t.z);
  const auto toBase = [&](double x, double y, double z) {
    return Eigen::Vector3d(q * Eigen::Vector3d(x, y, z) + translation);
  };
  // Ground 5 m away along azimuth 0 (sensor +y, 2.25 m below it) is 5 m ahead of the robot.
  EXPECT_TRUE(toBase(0.0, 5.0, -2.25).isApprox(Eigen::Vector3d(5.0, 0.0, 0.0), 1e-12));
  // Azimuth 90 degrees (sensor +x) is on the robot's right.
  const Eigen::Vector3d right = toBase(3.0, 0.0, 0.0);
  EXPECT_NEAR(right.x(), 0.0, 1e-12);
  EXPECT_NEAR(right.y(), -3.0, 1e-12);
  EXPECT_NEAR(right.z(), 2.25, 1e-12);

  EXPECT_NEAR(velodyne::sensorMountTransform(0, 1.2).transform.translation.z, 1.2, 1e-12);
  EXPECT_THROW(velodyne::sensorMountTransform(-5), std::invalid_argument);
  EXPECT_THROW(velodyne::sensorMountTransform(0, std::nan("")), std::invalid_argument);
}

}  // namespace
