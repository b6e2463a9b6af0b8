#include "ros2cli/yaml_message_reader.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/color_rgba.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

namespace {

template <typename T>
void fill(const std::string& yaml, T& message) {
  const auto* handle = rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>();
  ros2cli::fillMessageFromYaml(yaml, &message,
                               *static_cast<const ros2cli::MessageMembers*>(handle->data));
}

// The exception text, or "" when `yaml` is accepted.
template <typename T>
std::string errorOf(const std::string& yaml) {
  T message;
  try {
    fill(yaml, message);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "";
}

TEST(YamlMessageReader, FlowMappingSetsNamedFieldsAndKeepsDefaults) {
  geometry_msgs::msg::TransformStamped t;
  fill(
      "{header: {frame_id: map, stamp: {sec: 3}}, child_frame_id: base_link, "
      "transform: {translation: {x: 1.5, y: -2}}}",
      t);
  EXPECT_EQ(t.header.frame_id, "map");
  EXPECT_EQ(t.header.stamp.sec, 3);
  EXPECT_EQ(t.header.stamp.nanosec, 0u);
  EXPECT_EQ(t.child_frame_id, "base_link");
  EXPECT_EQ(t.transform.translation.x, 1.5);
  EXPECT_EQ(t.transform.translation.y, -2.0);
  EXPECT_EQ(t.transform.rotation.w, 1.0);  // Quaternion.msg's default
}

TEST(YamlMessageReader, BlockYamlAndSequencesOfMessages) {
  tf2_msgs::msg::TFMessage tf;
  fill(
      "transforms:\n"
      "- header: {frame_id: map}\n"
      "  child_frame_id: odom\n"
      "- child_frame_id: '42'\n"
      "  transform:\n"
      "    rotation: {z: 1, w: 0}\n",
      tf);
  ASSERT_EQ(tf.transforms.size(), 2u);
  EXPECT_EQ(tf.transforms[0].header.frame_id, "map");
  EXPECT_EQ(tf.transforms[0].child_frame_id, "odom");
  EXPECT_EQ(tf.transforms[0].transform.rotation.w, 1.0);
  EXPECT_EQ(tf.transforms[1].child_frame_id, "42");
  EXPECT_EQ(tf.transforms[1].transform.rotation.z, 1.0);
  EXPECT_EQ(tf.transforms[1].transform.rotation.w, 0.0);
  // A new value replaces the whole sequence.
  fill("{transforms: []}", tf);
  EXPECT_TRUE(tf.transforms.empty());
}

TEST(YamlMessageReader, EmptyTextSetsNothing) {
  geometry_msgs::msg::TransformStamped t;
  t.child_frame_id = "kept";
  fill("", t);
  fill("{}", t);
  EXPECT_EQ(t.child_frame_id, "kept");
}

TEST(YamlMessageReader, Yaml11ScalarForms) {
  sensor_msgs::msg::PointCloud2 cloud;
  fill(
      "{height: 0x10, width: 010, point_step: 0b101, row_step: 1_000, is_dense: yes, "
      "is_bigendian: Off, data: [0, 255, 0xff, '7']}",
      cloud);
  EXPECT_EQ(cloud.height, 16u);
  EXPECT_EQ(cloud.width, 8u);
  EXPECT_EQ(cloud.point_step, 5u);
  EXPECT_EQ(cloud.row_step, 1000u);
  EXPECT_TRUE(cloud.is_dense);
  EXPECT_FALSE(cloud.is_bigendian);
  EXPECT_EQ(cloud.data, (std::vector<std::uint8_t>{0, 255, 255, 7}));
  EXPECT_NE(
      errorOf<sensor_msgs::msg::PointCloud2>("{data: [A]}").find("data[0]: expected an integer"),
      std::string::npos);

  // Bytes also take the one-character strings ros2 topic echo prints for them; a quoted digit is
  // that character.
  rcl_interfaces::msg::ParameterValue value;
  fill("{byte_array_value: [1, A, '7', \"\\x01\", \"\\xFF\"]}", value);
  EXPECT_EQ(value.byte_array_value, (std::vector<std::uint8_t>{1, 'A', '7', 1, 255}));

  std_msgs::msg::ColorRGBA color;
  fill("{r: .inf, g: -.Inf, b: .nan, a: 1e-3}", color);
  EXPECT_EQ(color.r, std::numeric_limits<float>::infinity());
  EXPECT_EQ(color.g, -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(color.b));
  EXPECT_EQ(color.a, 0.001f);
}

TEST(YamlMessageReader, FixedArraysNeedTheirSize) {
  sensor_msgs::msg::CameraInfo info;
  fill("{k: [1, 2, 3, 4, 5, 6, 7, 8, 9], d: [0.5]}", info);
  EXPECT_EQ(info.k[8], 9.0);
  EXPECT_EQ(info.d, std::vector<double>{0.5});
  const std::string error = errorOf<sensor_msgs::msg::CameraInfo>("{k: [1, 2, 3]}");
  EXPECT_NE(error.find("k: expected exactly 9 elements, got 3"), std::string::npos) << error;
}

TEST(YamlMessageReader, ErrorsNameTheField) {
  using geometry_msgs::msg::TransformStamped;
  const auto expect = [](const std::string& error, const std::string& fragment) {
    EXPECT_NE(error.find(fragment), std::string::npos)
        << "'" << error << "' lacks '" << fragment << "'";
  };
  expect(errorOf<TransformStamped>("{header: {frame: map}}"), "header.frame: no such field");
  expect(errorOf<TransformStamped>("{header: {frame: map}}"), "fields: stamp, frame_id");
  expect(errorOf<TransformStamped>("{header: {stamp: {sec: abc}}}"),
         "header.stamp.sec: expected an integer (int32), got 'abc'");
  expect(errorOf<TransformStamped>("{header: {stamp: {sec: 2147483648}}}"),
         "header.stamp.sec: 2147483648 is out of range for int32 (-2147483648 to 2147483647)");
  EXPECT_EQ(errorOf<TransformStamped>("{header: {stamp: {sec: -2147483648}}}"), "");
  expect(errorOf<TransformStamped>("{header: {stamp: {sec: 1.5}}}"), "header.stamp.sec");
  expect(errorOf<TransformStamped>("{header: {stamp: {nanosec: -1}}}"),
         "header.stamp.nanosec: -1 is out of range for uint32");
  EXPECT_EQ(errorOf<TransformStamped>("{header: {stamp: {nanosec: 4294967295}}}"), "");
  expect(errorOf<TransformStamped>("{header: map}"), "header: expected a mapping");
  expect(errorOf<TransformStamped>("{transform: {translation: {x: [1]}}}"),
         "transform.translation.x: expected a double value, got a sequence");
  expect(errorOf<TransformStamped>("{transform: {translation: {x: one}}}"),
         "transform.translation.x: expected a number (double), got 'one'");
  expect(errorOf<TransformStamped>("[1, 2]"), "expected a mapping");
  expect(errorOf<TransformStamped>("{header: {frame_id: [a]"), "not valid YAML");
  expect(errorOf<tf2_msgs::msg::TFMessage>("{transforms: [{child: a}]}"),
         "transforms[0].child: no such field");
  expect(errorOf<tf2_msgs::msg::TFMessage>("{transforms: map}"), "transforms: expected a sequence");
  expect(errorOf<sensor_msgs::msg::PointCloud2>("{data: [256]}"),
         "data[0]: 256 is out of range for uint8");
  expect(errorOf<sensor_msgs::msg::PointCloud2>("{is_dense: maybe}"),
         "is_dense: expected true or false, got 'maybe'");
  expect(errorOf<std_msgs::msg::ColorRGBA>("{r: 1e39}"), "r: 1e39 is out of range for float");
}

TEST(YamlMessageReader, BoundedSequencesKeepTheirBound) {
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  fill("{floating_point_range: [{from_value: -1, to_value: 1, step: 0.5}]}", descriptor);
  ASSERT_EQ(descriptor.floating_point_range.size(), 1u);
  EXPECT_EQ(descriptor.floating_point_range[0].step, 0.5);
  const std::string error =
      errorOf<rcl_interfaces::msg::ParameterDescriptor>("{floating_point_range: [{}, {}]}");
  EXPECT_NE(error.find("floating_point_range: 2 elements exceed the bound of 1"), std::string::npos)
      << error;
}

}  // namespace
