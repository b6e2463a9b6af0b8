#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>
#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "scan_player/scan_conversion.hpp"

namespace {

using sensor_msgs::msg::PointField;

PointField field(const char* name, std::uint32_t offset, std::uint8_t type) {
  PointField f;
  f.name = name;
  f.offset = offset;
  f.datatype = type;
  f.count = 1;
  return f;
}

struct RawPoint {
  float x, y, z, intensity;
  std::uint32_t offset_time;
  std::uint16_t ring;
};

// A driver-style cloud: x, y, z, intensity, offset_time, ring in 24-byte points.
sensor_msgs::msg::PointCloud2 driverCloud(const std::vector<RawPoint>& points) {
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.stamp.sec = 12;
  cloud.header.stamp.nanosec = 500;
  cloud.header.frame_id = "3d_lidar_link";
  cloud.fields = {
      field("x", 0, PointField::FLOAT32),           field("y", 4, PointField::FLOAT32),
      field("z", 8, PointField::FLOAT32),           field("intensity", 12, PointField::FLOAT32),
      field("offset_time", 16, PointField::UINT32), field("ring", 20, PointField::UINT16)};
  cloud.point_step = 24;
  cloud.height = 1;
  cloud.width = static_cast<std::uint32_t>(points.size());
  cloud.row_step = cloud.point_step * cloud.width;
  cloud.data.resize(cloud.row_step);
  for (std::size_t i = 0; i < points.size(); ++i) {
    std::uint8_t* out = cloud.data.data() + i * 24;
    std::memcpy(out, &points[i].x, 16);
    std::memcpy(out + 16, &points[i].offset_time, 4);
    std::memcpy(out + 20, &points[i].ring, 2);
  }
  return cloud;
}

TEST(ScanConversion, DriverCloudBecomesCustomMsgByFieldName) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto cloud = driverCloud({{1.0F, 2.0F, 3.0F, 300.0F, 1000U, 7},
                                  {nan, 0.0F, 0.0F, 10.0F, 2000U, 1},
                                  {-4.0F, 5.5F, -0.5F, -3.0F, 99000U, 15}});
  const auto custom = scan_player::toCustomMsg(cloud);
  ASSERT_EQ(custom.points.size(), 2U) << "the NaN point is left out";
  EXPECT_EQ(custom.point_num, 2U);
  EXPECT_EQ(custom.header.frame_id, "3d_lidar_link");
  EXPECT_EQ(custom.timebase, 12000000500ULL);
  EXPECT_FLOAT_EQ(custom.points[0].x, 1.0F);
  EXPECT_FLOAT_EQ(custom.points[1].y, 5.5F);
  EXPECT_EQ(custom.points[0].reflectivity, 255) << "intensity above 255 is clamped";
  EXPECT_EQ(custom.points[1].reflectivity, 0) << "negative intensity is clamped";
  EXPECT_EQ(custom.points[0].offset_time, 1000U);
  EXPECT_EQ(custom.points[1].offset_time, 99000U);
  EXPECT_EQ(custom.points[0].line, 7);
  EXPECT_EQ(custom.points[1].line, 15);

  const auto back = scan_player::toPointCloud2(custom);
  ASSERT_EQ(back.width, 2U);
  ASSERT_EQ(back.data.size(), 2U * back.point_step);
  float xyz[3];
  std::memcpy(xyz, back.data.data() + back.point_step, sizeof(xyz));
  EXPECT_FLOAT_EQ(xyz[0], -4.0F);
  EXPECT_FLOAT_EQ(xyz[1], 5.5F);
  EXPECT_FLOAT_EQ(xyz[2], -0.5F);
}

TEST(ScanConversion, UnusableCloudsAreRefusedWithTheReason) {
  auto no_z = driverCloud({{1, 2, 3, 4, 0, 0}});
  no_z.fields.erase(no_z.fields.begin() + 2);
  try {
    scan_player::toCustomMsg(no_z);
    FAIL() << "a cloud without z was converted";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("'z'"), std::string::npos) << error.what();
  }

  auto short_data = driverCloud({{1, 2, 3, 4, 0, 0}, {1, 2, 3, 4, 0, 0}});
  short_data.data.resize(30);
  EXPECT_THROW(scan_player::toCustomMsg(short_data), std::invalid_argument);

  auto outside = driverCloud({{1, 2, 3, 4, 0, 0}});
  outside.fields[3].offset = 22;  // a float32 at 22 of a 24-byte point
  EXPECT_THROW(scan_player::toCustomMsg(outside), std::invalid_argument);
}

// Found by the player's fuzzer: a height in the billions with width 0 walked every empty row
// (seconds per message); it converts to no points at once.
TEST(ScanConversion, RowsWithoutPointsGiveNoPoints) {
  auto empty = driverCloud({});
  empty.width = 0;
  empty.height = 0x7fffffff;
  empty.row_step = 0;
  const auto custom = scan_player::toCustomMsg(empty);
  EXPECT_TRUE(custom.points.empty());
  EXPECT_EQ(custom.point_num, 0U);
  EXPECT_EQ(custom.header.frame_id, "3d_lidar_link");
}

// Found by the player's fuzzer: a float32 "ring" holding NaN was clamped (still NaN) and cast to
// uint8, which is undefined (UBSan reports it). It becomes line 0 like a NaN intensity.
TEST(ScanConversion, NanRingBecomesLineZero) {
  auto cloud = driverCloud({{1, 2, 3, 4, 0, 0}, {5, 6, 7, 8, 0, 0}});
  cloud.fields[5] = field("ring", 20, PointField::FLOAT32);
  cloud.fields.erase(cloud.fields.begin() + 3, cloud.fields.begin() + 5);
  cloud.point_step = 24;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float nine = 9.0F;
  std::memcpy(cloud.data.data() + 20, &nan, 4);
  std::memcpy(cloud.data.data() + 24 + 20, &nine, 4);
  const auto custom = scan_player::toCustomMsg(cloud);
  ASSERT_EQ(custom.points.size(), 2U);
  EXPECT_EQ(custom.points[0].line, 0U);
  EXPECT_EQ(custom.points[1].line, 9U);
}

// width x height x point_step wraps around 64 bits here; the size check must still refuse the
// cloud rather than read past its 24 bytes.
TEST(ScanConversion, SizeCheckDoesNotWrapAround) {
  auto huge = driverCloud({{1, 2, 3, 4, 0, 0}});
  huge.width = 0x80000000U;
  huge.height = 0x80000000U;
  huge.point_step = 64;
  huge.row_step = 0;
  EXPECT_THROW(scan_player::toCustomMsg(huge), std::invalid_argument);
}

TEST(Serialization, RoundTripAndTruncatedBytes) {
  const auto cloud = driverCloud({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
  rclcpp::Serialization<sensor_msgs::msg::PointCloud2> serialization;
  rclcpp::SerializedMessage bytes;
  serialization.serialize_message(&cloud, &bytes);
  ASSERT_GT(bytes.size(), cloud.data.size());
  sensor_msgs::msg::PointCloud2 decoded;
  serialization.deserialize_message(&bytes, &decoded);
  EXPECT_EQ(decoded, cloud);

  rclcpp::SerializedMessage truncated(bytes.get_rcl_serialized_message());
  truncated.get_rcl_serialized_message().buffer_length = bytes.size() - 10;
  EXPECT_THROW(serialization.deserialize_message(&truncated, &decoded), std::runtime_error);

  tf2_msgs::msg::TFMessage tf;
  tf.transforms.resize(2);
  tf.transforms[1].child_frame_id = "base_footprint";
  tf.transforms[1].transform.translation.x = 1.5;
  rclcpp::Serialization<tf2_msgs::msg::TFMessage> tf_serialization;
  rclcpp::SerializedMessage tf_bytes;
  tf_serialization.serialize_message(&tf, &tf_bytes);
  rclcpp::SerializedMessage copy = tf_bytes;
  tf2_msgs::msg::TFMessage tf_decoded;
  tf_serialization.deserialize_message(&copy, &tf_decoded);
  EXPECT_EQ(tf_decoded, tf);
}

}  // namespace
