// The node's PointCloud2 intake: which layouts it refuses, and what a readable cloud becomes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cloud_intake.hpp"

namespace lidar_perception {
namespace {

sensor_msgs::msg::PointCloud2 xyzCloud(const std::vector<float>& xyz) {
  sensor_msgs::msg::PointCloud2 msg;
  msg.header.frame_id = "lidar";
  msg.header.stamp.sec = 12;
  msg.header.stamp.nanosec = 500;
  const char* names[3] = {"x", "y", "z"};
  for (uint32_t i = 0; i < 3; ++i) {
    sensor_msgs::msg::PointField field;
    field.name = names[i];
    field.offset = 4 * i;
    field.datatype = sensor_msgs::msg::PointField::FLOAT32;
    field.count = 1;
    msg.fields.push_back(field);
  }
  msg.point_step = 12;
  msg.height = 1;
  msg.width = static_cast<uint32_t>(xyz.size() / 3);
  msg.row_step = msg.width * msg.point_step;
  msg.data.resize(xyz.size() * 4);
  if (!xyz.empty()) {
    std::memcpy(msg.data.data(), xyz.data(), msg.data.size());
  }
  msg.is_dense = true;
  return msg;
}

TEST(CloudIntake, ConvertsTheXyzOfEachPoint) {
  const auto msg = xyzCloud({1.0F, 2.0F, 3.0F, -4.0F, 5.5F, 0.25F});
  pcl::PointCloud<pcl::PointXYZ> cloud;
  EXPECT_EQ(convertLidarCloud(msg, cloud), "");
  ASSERT_EQ(cloud.size(), 2U);
  EXPECT_FLOAT_EQ(cloud[1].x, -4.0F);
  EXPECT_FLOAT_EQ(cloud[1].y, 5.5F);
  EXPECT_FLOAT_EQ(cloud[1].z, 0.25F);
  EXPECT_EQ(cloud.width, 2U);
  EXPECT_EQ(cloud.height, 1U);
  EXPECT_EQ(cloud.header.frame_id, "lidar");
}

TEST(CloudIntake, RefusesDataShorterThanTheLayout) {
  auto msg = xyzCloud({1.0F, 2.0F, 3.0F});
  msg.height = 2;
  pcl::PointCloud<pcl::PointXYZ> cloud;
  cloud.push_back(pcl::PointXYZ(7.0F, 7.0F, 7.0F));
  EXPECT_EQ(convertLidarCloud(msg, cloud),
            "data holds 12 bytes but height 2 x row_step 12 needs 24");
  EXPECT_EQ(cloud.size(), 1U) << "a refused message leaves the output alone";
}

TEST(CloudIntake, RefusesAFieldPastThePointStep) {
  auto msg = xyzCloud({1.0F, 2.0F, 3.0F});
  msg.fields[2].offset = 10;
  pcl::PointCloud<pcl::PointXYZ> cloud;
  EXPECT_EQ(convertLidarCloud(msg, cloud), "field 'z' at offset 10 does not fit in point_step 12");
}

// Found by the intake fuzzer: a message without points (here: no bytes at all) went through
// PCL's copy loop, which takes a reference to the first point of the empty output (undefined
// behaviour that UBSan reports). It converts to an empty cloud with the message's size and frame.
TEST(CloudIntake, MessageWithoutPointsGivesAnEmptyCloud) {
  sensor_msgs::msg::PointCloud2 msg;
  msg.header.frame_id = "lidar";
  pcl::PointCloud<pcl::PointXYZ> cloud;
  cloud.push_back(pcl::PointXYZ(7.0F, 7.0F, 7.0F));
  EXPECT_EQ(convertLidarCloud(msg, cloud), "");
  EXPECT_TRUE(cloud.empty());
  EXPECT_EQ(cloud.header.frame_id, "lidar");

  auto wide = xyzCloud({});
  wide.width = 5;
  wide.row_step = 60;
  wide.height = 0;
  EXPECT_EQ(convertLidarCloud(wide, cloud), "");
  EXPECT_TRUE(cloud.empty());
  EXPECT_EQ(cloud.width, 5U);
  EXPECT_EQ(cloud.height, 0U);
}

// Found by the intake fuzzer: with point_step 0 the data bounds nothing, and the conversion
// allocated width x height points (4 GB here) for a message of a few bytes.
TEST(CloudIntake, RefusesPointsOfNoBytes) {
  sensor_msgs::msg::PointCloud2 msg;
  msg.width = 0x10000000;
  msg.height = 1;
  msg.point_step = 0;
  msg.row_step = 0;
  pcl::PointCloud<pcl::PointXYZ> cloud;
  EXPECT_EQ(convertLidarCloud(msg, cloud), "point_step is 0 for width 268435456 x height 1 points");
  EXPECT_TRUE(cloud.empty());
  EXPECT_EQ(describeMalformedCloud(msg), "point_step is 0 for width 268435456 x height 1 points");
}

}  // namespace
}  // namespace lidar_perception
