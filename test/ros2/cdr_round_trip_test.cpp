// CDR encoding checked against hand-computed bytes, big-endian samples built by hand, and round
// trips of every generated message type with filled contents.
#include <gtest/gtest.h>

#include <cstring>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <geometry_msgs/msg/vector3.hpp>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <sensor_msgs/msg/point_field.hpp>
#include <std_msgs/msg/header.hpp>

#include "cdr_test_support.hpp"
#include "ros2_core/cdr_serialization.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
Bytes encode(const T& message) {
  return ros2_core::serialize(&message, cdr_test::members_of<T>());
}

template <typename T>
T decode(const Bytes& bytes) {
  T message;
  ros2_core::deserialize(bytes, &message, cdr_test::members_of<T>());
  return message;
}

// Appends values in big-endian order, for samples built by hand.
struct BigEndian {
  Bytes bytes{0x00, 0x00, 0x00, 0x00};
  void u8(std::uint8_t v) { bytes.push_back(v); }
  void pad_to(std::size_t alignment) {
    while ((bytes.size() - 4) % alignment != 0) {
      bytes.push_back(0);
    }
  }
  void u32(std::uint32_t v) {
    pad_to(4);
    for (int shift = 24; shift >= 0; shift -= 8) {
      bytes.push_back(static_cast<std::uint8_t>(v >> shift));
    }
  }
  void u64(std::uint64_t v) {
    pad_to(8);
    for (int shift = 56; shift >= 0; shift -= 8) {
      bytes.push_back(static_cast<std::uint8_t>(v >> shift));
    }
  }
  void f64(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof(bits));
    u64(bits);
  }
  void str(const std::string& text) {
    u32(static_cast<std::uint32_t>(text.size() + 1));
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
};

TEST(CdrLayout, HeaderIsEncapsulationThenStampThenString) {
  std_msgs::msg::Header header;
  header.stamp.sec = 1;
  header.stamp.nanosec = 2;
  header.frame_id = "ab";
  const Bytes expected{0x00, 0x01, 0x00, 0x00, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 0};
  EXPECT_EQ(encode(header), expected);
}

TEST(CdrLayout, PointFieldPadsAfterStringAndAfterByte) {
  sensor_msgs::msg::PointField field;
  field.name = "x";
  field.offset = 0x01020304;
  field.datatype = sensor_msgs::msg::PointField::FLOAT32;
  field.count = 1;
  // body: len(2) 'x' NUL, 2 padding, offset, datatype, 3 padding, count
  const Bytes expected{0, 1, 0, 0, 2, 0, 0, 0, 'x', 0, 0, 0, 4, 3, 2, 1, 7, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(encode(field), expected);
}

TEST(CdrLayout, DoublesAlignToEightCountedAfterTheHeader) {
  geometry_msgs::msg::TransformStamped t;
  t.header.frame_id = "a";
  t.child_frame_id = "b";
  t.transform.translation.x = 1.0;
  t.transform.rotation.w = 1.0;
  const Bytes bytes = encode(t);
  // body: stamp 0..8, frame_id len at 8, "a\0" 12..14, pad to 16, child len at 16, "b\0" 20..22,
  // pad to 24, seven doubles 24..80.
  ASSERT_EQ(bytes.size(), 4U + 80U);
  EXPECT_EQ(bytes[4 + 16], 2);
  EXPECT_EQ(bytes[4 + 20], 'b');
  EXPECT_EQ(bytes[4 + 22], 0);  // padding is zero
  EXPECT_EQ(bytes[4 + 23], 0);
  double x = 0;
  double w = 0;
  std::memcpy(&x, &bytes[4 + 24], 8);
  std::memcpy(&w, &bytes[4 + 24 + 48], 8);
  EXPECT_EQ(x, 1.0);
  EXPECT_EQ(w, 1.0);
}

TEST(CdrLayout, FixedArrayHasNoCountAndBoundedSequenceHasOne) {
  livox_ros_driver2::msg::CustomMsg scan;
  scan.rsvd = {7, 8, 9};
  const Bytes bytes = encode(scan);
  // header 4 + stamp 8 + frame_id "" (len 1, NUL) at body 8..13, pad to 16, timebase u64
  // 16..24, point_num 24..28, lidar_id 28, rsvd 29..32, points count 32..36.
  ASSERT_EQ(bytes.size(), 4U + 36U);
  EXPECT_EQ(Bytes(bytes.begin() + 4 + 29, bytes.begin() + 4 + 32), (Bytes{7, 8, 9}));

  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.floating_point_range.resize(1);
  descriptor.floating_point_range[0].from_value = -1.5;
  const Bytes with_range = encode(descriptor);
  descriptor.floating_point_range.clear();
  const Bytes without_range = encode(descriptor);
  // One range adds its three doubles (with alignment) to the same count field.
  EXPECT_EQ(with_range.size() - without_range.size(), 24U + 4U);
}

TEST(CdrBigEndian, PointFieldAndVectorBuiltByHandDecode) {
  BigEndian field;
  field.str("intensity");
  field.u32(12);
  field.u8(7);
  field.u32(1);
  const auto point_field = decode<sensor_msgs::msg::PointField>(field.bytes);
  EXPECT_EQ(point_field.name, "intensity");
  EXPECT_EQ(point_field.offset, 12U);
  EXPECT_EQ(point_field.datatype, 7);
  EXPECT_EQ(point_field.count, 1U);

  BigEndian vector;
  vector.f64(1.5);
  vector.f64(-2.0);
  vector.f64(3.25e-7);
  const auto v = decode<geometry_msgs::msg::Vector3>(vector.bytes);
  EXPECT_EQ(v.x, 1.5);
  EXPECT_EQ(v.y, -2.0);
  EXPECT_EQ(v.z, 3.25e-7);
}

TEST(CdrBigEndian, ParameterValueWithEverySequenceBuiltByHandDecodes) {
  BigEndian b;
  b.u8(2);                       // type
  b.u8(1);                       // bool_value
  b.u64(0xfffffffffffffffbULL);  // integer_value -5
  b.f64(0.125);                  // double_value
  b.str("gain");                 // string_value
  b.u32(3);                      // byte_array_value
  b.u8(0xde);
  b.u8(0xad);
  b.u8(0x01);
  b.u32(2);  // bool_array_value
  b.u8(0);
  b.u8(1);
  b.u32(2);  // integer_array_value
  b.u64(0x0102030405060708ULL);
  b.u64(42);
  b.u32(1);  // double_array_value
  b.f64(-1e10);
  b.u32(2);  // string_array_value
  b.str("a");
  b.str("");
  const auto value = decode<rcl_interfaces::msg::ParameterValue>(b.bytes);
  EXPECT_EQ(value.type, 2);
  EXPECT_TRUE(value.bool_value);
  EXPECT_EQ(value.integer_value, -5);
  EXPECT_EQ(value.double_value, 0.125);
  EXPECT_EQ(value.string_value, "gain");
  EXPECT_EQ(value.byte_array_value, (std::vector<std::uint8_t>{0xde, 0xad, 0x01}));
  EXPECT_EQ(value.bool_array_value, (std::vector<bool>{false, true}));
  EXPECT_EQ(value.integer_array_value, (std::vector<std::int64_t>{0x0102030405060708LL, 42}));
  EXPECT_EQ(value.double_array_value, (std::vector<double>{-1e10}));
  EXPECT_EQ(value.string_array_value, (std::vector<std::string>{"a", ""}));
}

TEST(CdrRoundTrip, EveryGeneratedTypeWithFilledContents) {
  for (const cdr_test::MessageType& type : cdr_test::all_message_types()) {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE(type.name + " seed " + std::to_string(seed));
      cdr_test::MessageBox original(*type.members);
      cdr_test::fill(original.get(), *type.members, seed);
      const Bytes bytes = ros2_core::serialize(original.get(), *type.members);
      ASSERT_GE(bytes.size(), 5U);
      EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0, 1, 0, 0}));

      cdr_test::MessageBox copy(*type.members);
      ros2_core::deserialize(bytes, copy.get(), *type.members);
      EXPECT_EQ(cdr_test::canonical_json(copy.get(), *type.members),
                cdr_test::canonical_json(original.get(), *type.members));
      EXPECT_EQ(ros2_core::serialize(copy.get(), *type.members), bytes);
    }
  }
}

TEST(CdrRoundTrip, DecodingReplacesEarlierContents) {
  sensor_msgs::msg::PointCloud2 small;
  small.data = {1, 2};
  small.fields.resize(1);
  sensor_msgs::msg::PointCloud2 target;
  target.data.assign(1000, 9);
  target.fields.resize(5);
  target.header.frame_id = "long frame name";
  ros2_core::deserialize(encode(small), &target,
                         cdr_test::members_of<sensor_msgs::msg::PointCloud2>());
  EXPECT_EQ(target, small);
}

TEST(CdrRoundTrip, OneMegabytePointCloudKeepsEveryByte) {
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = "lidar";
  cloud.height = 1;
  cloud.width = 1 << 16;
  cloud.point_step = 16;
  cloud.row_step = cloud.width * cloud.point_step;
  cloud.data.resize(cloud.row_step);
  for (std::size_t i = 0; i < cloud.data.size(); ++i) {
    cloud.data[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 8));
  }
  const Bytes bytes = encode(cloud);
  EXPECT_EQ(decode<sensor_msgs::msg::PointCloud2>(bytes), cloud);
}

}  // namespace
