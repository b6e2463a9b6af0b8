// Expected texts are written by hand from how ros2 topic echo lays out a message: PyYAML block
// style, sequences at their key's indentation, one "---" line after each message.
#include "ros2cli/yaml_printer.hpp"

#include <gtest/gtest.h>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <sensor_msgs/msg/point_field.hpp>
#include <std_msgs/msg/header.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

namespace {

using ros2cli::messageToYaml;
using ros2cli::YamlPrintOptions;

template <typename T>
std::string echo(const T& message, const YamlPrintOptions& options = {}) {
  const auto* handle = rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>();
  return messageToYaml(&message, *static_cast<const ros2cli::MessageMembers*>(handle->data),
                       options);
}

geometry_msgs::msg::TransformStamped transform(const std::string& parent, const std::string& child,
                                               double x) {
  geometry_msgs::msg::TransformStamped t;
  t.header.stamp.sec = 10;
  t.header.stamp.nanosec = 500;
  t.header.frame_id = parent;
  t.child_frame_id = child;
  t.transform.translation.x = x;
  t.transform.translation.y = -2.5;
  return t;
}

TEST(YamlPrinter, Header) {
  std_msgs::msg::Header header;
  header.stamp.sec = 1;
  header.stamp.nanosec = 2;
  header.frame_id = "map";
  EXPECT_EQ(echo(header),
            "stamp:\n"
            "  sec: 1\n"
            "  nanosec: 2\n"
            "frame_id: map\n"
            "---\n");
  header.frame_id = "";
  EXPECT_EQ(echo(header),
            "stamp:\n"
            "  sec: 1\n"
            "  nanosec: 2\n"
            "frame_id: ''\n"
            "---\n");
}

TEST(YamlPrinter, TransformStamped) {
  EXPECT_EQ(echo(transform("world", "base_link", 1.0)),
            "header:\n"
            "  stamp:\n"
            "    sec: 10\n"
            "    nanosec: 500\n"
            "  frame_id: world\n"
            "child_frame_id: base_link\n"
            "transform:\n"
            "  translation:\n"
            "    x: 1.0\n"
            "    y: -2.5\n"
            "    z: 0.0\n"
            "  rotation:\n"
            "    x: 0.0\n"
            "    y: 0.0\n"
            "    z: 0.0\n"
            "    w: 1.0\n"
            "---\n");
}

TEST(YamlPrinter, PointFieldWithNumericLookingName) {
  sensor_msgs::msg::PointField field;
  field.name = "1";
  field.offset = 12;
  field.datatype = sensor_msgs::msg::PointField::FLOAT32;
  field.count = 1;
  EXPECT_EQ(echo(field),
            "name: '1'\n"
            "offset: 12\n"
            "datatype: 7\n"
            "count: 1\n"
            "---\n");
}

TEST(YamlPrinter, SequenceOfMessagesIsABlockListAtTheKeysIndentation) {
  tf2_msgs::msg::TFMessage tf;
  EXPECT_EQ(echo(tf), "transforms: []\n---\n");
  tf.transforms.push_back(transform("map", "odom", 0.1));
  tf.transforms.push_back(transform("odom", "true", 1e-05));
  EXPECT_EQ(echo(tf),
            "transforms:\n"
            "- header:\n"
            "    stamp:\n"
            "      sec: 10\n"
            "      nanosec: 500\n"
            "    frame_id: map\n"
            "  child_frame_id: odom\n"
            "  transform:\n"
            "    translation:\n"
            "      x: 0.1\n"
            "      y: -2.5\n"
            "      z: 0.0\n"
            "    rotation:\n"
            "      x: 0.0\n"
            "      y: 0.0\n"
            "      z: 0.0\n"
            "      w: 1.0\n"
            "- header:\n"
            "    stamp:\n"
            "      sec: 10\n"
            "      nanosec: 500\n"
            "    frame_id: odom\n"
            "  child_frame_id: 'true'\n"
            "  transform:\n"
            "    translation:\n"
            "      x: 1.0e-05\n"
            "      y: -2.5\n"
            "      z: 0.0\n"
            "    rotation:\n"
            "      x: 0.0\n"
            "      y: 0.0\n"
            "      z: 0.0\n"
            "      w: 1.0\n"
            "---\n");
}

sensor_msgs::msg::PointCloud2 smallCloud() {
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = "lidar";
  cloud.height = 1;
  cloud.width = 1;
  sensor_msgs::msg::PointField field;
  field.name = "x";
  field.datatype = sensor_msgs::msg::PointField::FLOAT32;
  field.count = 1;
  cloud.fields.push_back(field);
  cloud.point_step = 4;
  cloud.row_step = 4;
  cloud.data = {0, 0, 128, 255};
  cloud.is_dense = true;
  return cloud;
}

TEST(YamlPrinter, NestedListsAndByteArraysAsIntegers) {
  EXPECT_EQ(echo(smallCloud()),
            "header:\n"
            "  stamp:\n"
            "    sec: 0\n"
            "    nanosec: 0\n"
            "  frame_id: lidar\n"
            "height: 1\n"
            "width: 1\n"
            "fields:\n"
            "- name: x\n"
            "  offset: 0\n"
            "  datatype: 7\n"
            "  count: 1\n"
            "is_bigendian: false\n"
            "point_step: 4\n"
            "row_step: 4\n"
            "data:\n"
            "- 0\n"
            "- 0\n"
            "- 128\n"
            "- 255\n"
            "is_dense: true\n"
            "---\n");
}

TEST(YamlPrinter, NoArrAbbreviatesEveryArrayAndSequence) {
  YamlPrintOptions options;
  options.no_arr = true;
  const std::string text = echo(smallCloud(), options);
  EXPECT_NE(text.find("\nfields: '<sequence type: sensor_msgs/msg/PointField, length: 1>'\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\ndata: '<sequence type: uint8, length: 4>'\n"), std::string::npos) << text;

  sensor_msgs::msg::CameraInfo info;
  info.d = {0.5, 0.25};
  const std::string camera = echo(info, options);
  EXPECT_NE(camera.find("\nd: '<sequence type: double, length: 2>'\n"), std::string::npos)
      << camera;
  EXPECT_NE(camera.find("\nk: '<array type: double[9]>'\n"), std::string::npos) << camera;
  EXPECT_NE(camera.find("\np: '<array type: double[12]>'\n"), std::string::npos) << camera;

  rcl_interfaces::msg::ParameterDescriptor descriptor;
  const std::string bounded = echo(descriptor, options);
  EXPECT_NE(bounded.find("\nfloating_point_range: '<sequence type: "
                         "rcl_interfaces/msg/FloatingPointRange[1], length: 0>'\n"),
            std::string::npos)
      << bounded;
}

TEST(YamlPrinter, BytesAreOneCharacterStrings) {
  // Python holds byte[] as bytes objects, which ros2 turns into chr() of each.
  rcl_interfaces::msg::ParameterValue value;
  value.byte_array_value = {'A', 1, '7', 0xE9};
  const std::string text = echo(value);
  EXPECT_NE(text.find("\nbyte_array_value:\n- A\n- \"\\x01\"\n- '7'\n- \xC3\xA9\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nbool_value: false\n"), std::string::npos) << text;
}

TEST(YamlPrinter, FixedArraysPrintEveryElement) {
  sensor_msgs::msg::CameraInfo info;
  info.k = {1, 0, 0.5, 0, 1, 0.25, 0, 0, 1};
  const std::string text = echo(info);
  EXPECT_NE(text.find("\nk:\n- 1.0\n- 0.0\n- 0.5\n- 0.0\n- 1.0\n- 0.25\n- 0.0\n- 0.0\n- 1.0\nr:\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nd: []\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nroi:\n  x_offset: 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n  do_rectify: false\n---\n"), std::string::npos) << text;
}

TEST(YamlPrinter, TruncationShortensLongStringsAndSequencesOnly) {
  YamlPrintOptions options;
  options.truncate_length = 3;
  sensor_msgs::msg::PointCloud2 cloud = smallCloud();
  cloud.header.frame_id = "abcdef";
  const std::string text = echo(cloud, options);
  EXPECT_NE(text.find("  frame_id: abc...\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\ndata:\n- 0\n- 0\n- 128\n- '...'\nis_dense: true\n"), std::string::npos)
      << text;
  // Exactly at the limit nothing is cut.
  EXPECT_NE(text.find("\n- name: x\n"), std::string::npos) << text;
  options.truncate_length = 4;
  const std::string full = echo(cloud, options);
  EXPECT_NE(full.find("\ndata:\n- 0\n- 0\n- 128\n- 255\nis_dense"), std::string::npos) << full;
  EXPECT_NE(full.find("  frame_id: abcd...\n"), std::string::npos) << full;
}

TEST(YamlPrinter, StringsNeedingQuotesInsideLists) {
  tf2_msgs::msg::TFMessage tf;
  tf.transforms.push_back(transform("a: b", "line\nbreak", 0.0));
  const std::string text = echo(tf);
  EXPECT_NE(text.find("\n    frame_id: 'a: b'\n"), std::string::npos) << text;
  // The scalar sits under "- " at column 0, so its continuation lines are indented by 4.
  EXPECT_NE(text.find("\n  child_frame_id: 'line\n\n    break'\n"), std::string::npos) << text;
}

}  // namespace
