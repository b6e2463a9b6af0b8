// Untrusted CDR bytes: truncated, lying, unterminated, over-bound or corrupted samples are
// rejected with a CdrError naming the problem, the field and the byte offset, and never crash.
#include <gtest/gtest.h>

#include <random>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/header.hpp>
#include <stdexcept>
#include <tf2_msgs/msg/tf_message.hpp>

#include "cdr_test_support.hpp"
#include "ros2_core/cdr_serialization.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using ros2_core::CdrError;

sensor_msgs::msg::PointCloud2 small_cloud() {
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.stamp.sec = 17;
  cloud.header.frame_id = "lidar";
  cloud.height = 1;
  cloud.width = 3;
  for (const char* name : {"x", "y", "z"}) {
    sensor_msgs::msg::PointField field;
    field.name = name;
    field.offset = static_cast<std::uint32_t>(4 * cloud.fields.size());
    field.datatype = sensor_msgs::msg::PointField::FLOAT32;
    field.count = 1;
    cloud.fields.push_back(field);
  }
  cloud.point_step = 12;
  cloud.row_step = 36;
  cloud.data.assign(36, 0x5a);
  cloud.is_dense = true;
  return cloud;
}

// Offset of the uint32 count of PointCloud2.data in `bytes`: the count sits 4 bytes before
// `data.size()` payload bytes that precede is_dense (the last byte).
std::size_t data_count_offset(const Bytes& bytes, std::size_t data_size) {
  return bytes.size() - 1 - data_size - 4;
}

void expect_rejected(const Bytes& bytes, const ros2_core::MessageMembers& type,
                     const std::string& problem, const std::string& field, std::size_t offset) {
  cdr_test::MessageBox target(type);
  try {
    ros2_core::deserialize(bytes, target.get(), type);
    ADD_FAILURE() << "accepted a sample with " << problem;
  } catch (const CdrError& error) {
    EXPECT_NE(std::string(error.what()).find(problem), std::string::npos) << error.what();
    EXPECT_EQ(error.field(), field) << error.what();
    EXPECT_EQ(error.offset(), offset) << error.what();
    EXPECT_NE(std::string(error.what()).find("byte offset " + std::to_string(offset)),
              std::string::npos)
        << error.what();
  }
}

TEST(CdrMalformed, EveryTruncationOfRealSamplesIsRejected) {
  std::vector<std::pair<std::string, Bytes>> samples;
  const auto cloud = small_cloud();
  samples.emplace_back(
      "sensor_msgs/msg/PointCloud2",
      ros2_core::serialize(&cloud, cdr_test::members_of<sensor_msgs::msg::PointCloud2>()));
  for (const char* name : {"visualization_msgs/msg/MarkerArray", "tf2_msgs/msg/TFMessage",
                           "rcl_interfaces/msg/ParameterDescriptor", "sensor_msgs/msg/CameraInfo",
                           "corvanta_protocol/msg/SemanticPointCloud",
                           "livox_ros_driver2/msg/CustomMsg", "rcl_interfaces/msg/Parameter"}) {
    const auto& type = cdr_test::members_of(name);
    for (std::uint32_t seed = 11; seed <= 13; ++seed) {
      cdr_test::MessageBox message(type);
      cdr_test::fill(message.get(), type, seed);
      samples.emplace_back(name, ros2_core::serialize(message.get(), type));
    }
  }
  for (const auto& [name, bytes] : samples) {
    const auto& type = cdr_test::members_of(name);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
      SCOPED_TRACE(name + " cut to " + std::to_string(length) + " of " +
                   std::to_string(bytes.size()) + " bytes");
      const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
      cdr_test::MessageBox target(type);
      try {
        ros2_core::deserialize(cut.data(), cut.size(), target.get(), type);
        ADD_FAILURE() << "a truncated sample was accepted";
      } catch (const CdrError& error) {
        EXPECT_LE(error.offset(), length) << error.what();
      }
    }
  }
}

TEST(CdrMalformed, LyingSequenceLengthIsRejectedBeforeAllocating) {
  const auto cloud = small_cloud();
  Bytes bytes = ros2_core::serialize(&cloud, cdr_test::members_of<sensor_msgs::msg::PointCloud2>());
  const std::size_t at = data_count_offset(bytes, cloud.data.size());
  ASSERT_EQ(bytes[at], 36);  // the count we are about to falsify; 37 bytes follow it
  for (const std::uint32_t lie : {38U, 0x7fffffffU, 0xffffffffU}) {
    SCOPED_TRACE(lie);
    for (int i = 0; i < 4; ++i) {
      bytes[at + i] = static_cast<std::uint8_t>(lie >> (8 * i));
    }
    expect_rejected(bytes, cdr_test::members_of<sensor_msgs::msg::PointCloud2>(),
                    "sequence length " + std::to_string(lie), "data", at);
  }

  // A lying count of nested messages: TFMessage claims a million transforms.
  tf2_msgs::msg::TFMessage tf;
  tf.transforms.resize(1);
  Bytes tf_bytes = ros2_core::serialize(&tf, cdr_test::members_of<tf2_msgs::msg::TFMessage>());
  tf_bytes[4 + 2] = 0x0f;  // count 1 -> 0x000f0001
  expect_rejected(tf_bytes, cdr_test::members_of<tf2_msgs::msg::TFMessage>(),
                  "sequence length 983041", "transforms", 4);
}

TEST(CdrMalformed, StringWithoutTerminatorOrPastTheEndIsRejected) {
  std_msgs::msg::Header header;
  header.frame_id = "map";
  Bytes bytes = ros2_core::serialize(&header, cdr_test::members_of<std_msgs::msg::Header>());
  ASSERT_EQ(bytes.back(), 0);
  bytes.back() = 'x';
  expect_rejected(bytes, cdr_test::members_of<std_msgs::msg::Header>(), "lacks its NUL terminator",
                  "frame_id", bytes.size() - 1);

  Bytes long_length = ros2_core::serialize(&header, cdr_test::members_of<std_msgs::msg::Header>());
  long_length[4 + 8] = 5;  // "map\0" is 4 bytes; claim 5
  expect_rejected(long_length, cdr_test::members_of<std_msgs::msg::Header>(),
                  "string length 5 exceeds", "frame_id", 4 + 8);
}

TEST(CdrMalformed, NestedFieldIsNamedByItsPath) {
  tf2_msgs::msg::TFMessage tf;
  tf.transforms.resize(2);
  tf.transforms[1].header.frame_id = "odom";
  Bytes bytes = ros2_core::serialize(&tf, cdr_test::members_of<tf2_msgs::msg::TFMessage>());
  // Body offsets: count 0..4; first transform: stamp 4..12, frame_id length 12..16, NUL 16,
  // child_frame_id length 20..24, NUL 24, doubles 32..88; second: stamp 88..96, frame_id length
  // 96..100, "odom" 100..104, NUL at 104.
  const std::size_t nul = 4 + 104;
  ASSERT_EQ(bytes[nul], 0);
  ASSERT_EQ(bytes[nul - 1], 'm');
  bytes[nul] = '!';
  expect_rejected(bytes, cdr_test::members_of<tf2_msgs::msg::TFMessage>(),
                  "lacks its NUL terminator", "transforms[1].header.frame_id", nul);
}

TEST(CdrMalformed, StringElementIsNamedByItsIndex) {
  rcl_interfaces::msg::ParameterValue value;
  value.string_array_value = {"a", "bc"};
  Bytes bytes =
      ros2_core::serialize(&value, cdr_test::members_of<rcl_interfaces::msg::ParameterValue>());
  ASSERT_EQ(bytes.back(), 0);  // the last string's terminator ends the sample
  bytes.back() = 'd';
  expect_rejected(bytes, cdr_test::members_of<rcl_interfaces::msg::ParameterValue>(),
                  "lacks its NUL terminator", "string_array_value[1]", bytes.size() - 1);
}

TEST(CdrMalformed, BoundedSequenceOverItsBoundIsRejected) {
  // The C++ type cannot hold more than its bound (BoundedVector throws), so only decoding can
  // meet an over-bound length.
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  // Build the over-bound sample from a valid one: one range, count patched to 2, the range's
  // 24 bytes repeated.
  descriptor.floating_point_range.resize(1);
  Bytes bytes = ros2_core::serialize(
      &descriptor, cdr_test::members_of<rcl_interfaces::msg::ParameterDescriptor>());
  // Body offsets: name length 0..4, NUL 4, type 5, description length 8..12, NUL 12,
  // additional_constraints length 16..20, NUL 20, read_only 21, dynamic_typing 22, range count
  // 24..28, padding to 32, the range's three doubles 32..56.
  const std::size_t at = 4 + 24;
  ASSERT_EQ(bytes[at], 1);
  bytes[at] = 2;
  const Bytes range(bytes.begin() + at + 4 + 4, bytes.begin() + at + 4 + 4 + 24);
  bytes.insert(bytes.begin() + at + 4 + 4 + 24, range.begin(), range.end());
  expect_rejected(bytes, cdr_test::members_of<rcl_interfaces::msg::ParameterDescriptor>(),
                  "bounded sequence of at most 1 elements has length 2", "floating_point_range",
                  at);
}

TEST(CdrMalformed, UnknownEncapsulationAndShortHeaderAreRejected) {
  std_msgs::msg::Header header;
  const Bytes good = ros2_core::serialize(&header, cdr_test::members_of<std_msgs::msg::Header>());
  for (const Bytes& head :
       {Bytes{0x00, 0x02}, Bytes{0x00, 0x03}, Bytes{0x01, 0x01}, Bytes{0x00, 0x0a}}) {
    Bytes bytes = good;
    bytes[0] = head[0];
    bytes[1] = head[1];
    expect_rejected(bytes, cdr_test::members_of<std_msgs::msg::Header>(),
                    "unknown CDR encapsulation", "", 0);
  }
  expect_rejected(Bytes{0x00, 0x01, 0x00}, cdr_test::members_of<std_msgs::msg::Header>(),
                  "shorter than its 4-byte encapsulation header", "", 0);
}

TEST(CdrMalformed, CorruptedBytesNeverCrash) {
  std::mt19937 rng(7);
  for (const char* name : {"visualization_msgs/msg/MarkerArray", "rcl_interfaces/msg/Parameter",
                           "corvanta_protocol/msg/SemanticPointCloud"}) {
    const auto& type = cdr_test::members_of(name);
    cdr_test::MessageBox message(type);
    cdr_test::fill(message.get(), type, 21);
    const Bytes good = ros2_core::serialize(message.get(), type);
    std::size_t rejected = 0;
    for (std::size_t at = 4; at < good.size(); ++at) {
      Bytes bytes = good;
      bytes[at] ^= static_cast<std::uint8_t>(1U << (rng() % 8)) | 0x80U;
      cdr_test::MessageBox target(type);
      try {
        ros2_core::deserialize(bytes, target.get(), type);
      } catch (const CdrError&) {
        ++rejected;
      }
    }
    // Setting the top bit of any length byte makes it lie: some corruptions must be caught.
    EXPECT_GT(rejected, 0U) << name;
  }
}

}  // namespace
