// The generated message types are the real ROS 2 ones: the introspection type support, which
// generic ROS 2 code (serialisers, bag recorders) relies on, sees every field with its ROS name,
// type and value. Expected layouts are written out from the public message definitions.
#include <gtest/gtest.h>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>
#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>

#include <builtin_interfaces/msg/duration.hpp>
#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <geometry_msgs/msg/point32.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/color_rgba.hpp>
#include <tf2_msgs/msg/tf_message.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace {

namespace introspection = rosidl_typesupport_introspection_cpp;

std::string Scalar(uint8_t type, const void* value) {
  std::ostringstream out;
  switch (type) {
    case introspection::ROS_TYPE_FLOAT:
      out << "float32 " << *static_cast<const float*>(value);
      break;
    case introspection::ROS_TYPE_DOUBLE:
      out << "float64 " << *static_cast<const double*>(value);
      break;
    case introspection::ROS_TYPE_BOOLEAN:
      out << "bool " << (*static_cast<const bool*>(value) ? "true" : "false");
      break;
    case introspection::ROS_TYPE_UINT8:
      out << "uint8 " << static_cast<int>(*static_cast<const uint8_t*>(value));
      break;
    case introspection::ROS_TYPE_INT32:
      out << "int32 " << *static_cast<const int32_t*>(value);
      break;
    case introspection::ROS_TYPE_UINT32:
      out << "uint32 " << *static_cast<const uint32_t*>(value);
      break;
    case introspection::ROS_TYPE_UINT64:
      out << "uint64 " << *static_cast<const uint64_t*>(value);
      break;
    case introspection::ROS_TYPE_STRING:
      out << "string '" << *static_cast<const std::string*>(value) << "'";
      break;
    default:
      out << "type " << static_cast<int>(type);
  }
  return out.str();
}

// Flattens a message into "path: type value" lines by walking its introspection members only.
void Walk(const introspection::MessageMembers& members, const void* message,
          const std::string& prefix, std::vector<std::string>& lines) {
  const auto* base = static_cast<const uint8_t*>(message);
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const introspection::MessageMember& member = members.members_[i];
    const std::string path = prefix + member.name_;
    const void* field = base + member.offset_;
    auto element = [&](const std::string& element_path, const void* value) {
      if (member.type_id_ == introspection::ROS_TYPE_MESSAGE) {
        Walk(*static_cast<const introspection::MessageMembers*>(member.members_->data), value,
             element_path + ".", lines);
      } else {
        lines.push_back(element_path + ": " + Scalar(member.type_id_, value));
      }
    };
    if (!member.is_array_) {
      element(path, field);
      continue;
    }
    const size_t size = member.size_function(field);
    lines.push_back(path +
                    (member.array_size_ > 0 && !member.is_upper_bound_
                         ? "[" + std::to_string(member.array_size_) + "]"
                         : "[]") +
                    " size " + std::to_string(size));
    // Byte buffers are summarised by their size; every other element is walked.
    if (member.type_id_ == introspection::ROS_TYPE_UINT8 && size > 4) {
      continue;
    }
    for (size_t k = 0; k < size; ++k) {
      element(path + "[" + std::to_string(k) + "]", member.get_const_function(field, k));
    }
  }
}

template <typename Message>
std::vector<std::string> Flatten(const Message& message, std::string* name = nullptr) {
  const rosidl_message_type_support_t* support =
      introspection::get_message_type_support_handle<Message>();
  EXPECT_NE(support, nullptr);
  const auto& members = *static_cast<const introspection::MessageMembers*>(support->data);
  if (name != nullptr) {
    *name = std::string(members.message_namespace_) + "::" + members.message_name_;
  }
  std::vector<std::string> lines;
  Walk(members, &message, "", lines);
  return lines;
}

sensor_msgs::msg::PointCloud2 TwoPointCloud() {
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.stamp.sec = 12;
  cloud.header.stamp.nanosec = 345;
  cloud.header.frame_id = "base_footprint";
  cloud.height = 1;
  cloud.width = 2;
  for (const char* axis : {"x", "y", "z"}) {
    sensor_msgs::msg::PointField field;
    field.name = axis;
    field.offset = static_cast<uint32_t>(4 * cloud.fields.size());
    field.datatype = sensor_msgs::msg::PointField::FLOAT32;
    field.count = 1;
    cloud.fields.push_back(field);
  }
  cloud.point_step = 16;
  cloud.row_step = 32;
  cloud.data.assign(32, 0);
  cloud.is_dense = true;
  return cloud;
}

}  // namespace

TEST(MessageTypes, PointCloud2MembersMatchTheRosDefinition) {
  std::string name;
  const auto lines = Flatten(TwoPointCloud(), &name);
  EXPECT_EQ(name, "sensor_msgs::msg::PointCloud2");
  const std::vector<std::string> expected{
      "header.stamp.sec: int32 12",
      "header.stamp.nanosec: uint32 345",
      "header.frame_id: string 'base_footprint'",
      "height: uint32 1",
      "width: uint32 2",
      "fields[] size 3",
      "fields[0].name: string 'x'",
      "fields[0].offset: uint32 0",
      "fields[0].datatype: uint8 7",
      "fields[0].count: uint32 1",
      "fields[1].name: string 'y'",
      "fields[1].offset: uint32 4",
      "fields[1].datatype: uint8 7",
      "fields[1].count: uint32 1",
      "fields[2].name: string 'z'",
      "fields[2].offset: uint32 8",
      "fields[2].datatype: uint8 7",
      "fields[2].count: uint32 1",
      "is_bigendian: bool false",
      "point_step: uint32 16",
      "row_step: uint32 32",
      "data[] size 32",
      "is_dense: bool true",
  };
  EXPECT_EQ(lines, expected);
}

TEST(MessageTypes, SemanticPointCloudMembersCarryObstaclesAndShape) {
  corvanta_protocol::msg::SemanticPointCloud message;
  message.header.frame_id = "base_footprint";
  message.header.stamp.sec = 7;
  corvanta_protocol::msg::SemanticObstacle obstacle;
  obstacle.type = 2;
  obstacle.reserved = 0;
  obstacle.flag = false;
  obstacle.cloud = TwoPointCloud();
  message.obstacles.push_back(obstacle);
  message.camera_id = 3;
  corvanta_protocol::msg::ShapePoint vertex;
  vertex.x = 1.5f;
  vertex.y = -0.5f;
  vertex.z = 0.25f;
  vertex.azimuth = 0.5f;
  message.shape.push_back(vertex);

  std::string name;
  const auto lines = Flatten(message, &name);
  EXPECT_EQ(name, "corvanta_protocol::msg::SemanticPointCloud");
  std::vector<std::string> expected{
      "header.stamp.sec: int32 7",
      "header.stamp.nanosec: uint32 0",
      "header.frame_id: string 'base_footprint'",
      "obstacles[] size 1",
      "obstacles[0].type: int32 2",
      "obstacles[0].reserved: int32 0",
      "obstacles[0].flag: bool false",
  };
  for (const auto& line : Flatten(TwoPointCloud())) {
    expected.push_back("obstacles[0].cloud." + line);
  }
  for (const char* line :
       {"camera_id: uint8 3", "shape[] size 1", "shape[0].x: float32 1.5",
        "shape[0].y: float32 -0.5", "shape[0].z: float32 0.25", "shape[0].azimuth: float32 0.5"}) {
    expected.emplace_back(line);
  }
  EXPECT_EQ(lines, expected);
}

TEST(MessageTypes, LivoxCustomMsgHasTheDriverLayout) {
  livox_ros_driver2::msg::CustomMsg scan;
  scan.header.frame_id = "livox_frame";
  scan.timebase = 1000;
  scan.point_num = 1;
  scan.lidar_id = 1;
  livox_ros_driver2::msg::CustomPoint point;
  point.offset_time = 99;
  point.x = 1.0f;
  point.reflectivity = 200;
  point.tag = 16;
  point.line = 3;
  scan.points.push_back(point);
  const std::vector<std::string> expected{
      "header.stamp.sec: int32 0",
      "header.stamp.nanosec: uint32 0",
      "header.frame_id: string 'livox_frame'",
      "timebase: uint64 1000",
      "point_num: uint32 1",
      "lidar_id: uint8 1",
      "rsvd[3] size 3",
      "rsvd[0]: uint8 0",
      "rsvd[1]: uint8 0",
      "rsvd[2]: uint8 0",
      "points[] size 1",
      "points[0].offset_time: uint32 99",
      "points[0].x: float32 1",
      "points[0].y: float32 0",
      "points[0].z: float32 0",
      "points[0].reflectivity: uint8 200",
      "points[0].tag: uint8 16",
      "points[0].line: uint8 3",
  };
  EXPECT_EQ(Flatten(scan), expected);
}

TEST(MessageTypes, StandardMessagesConstructWithRosDefaults) {
  geometry_msgs::msg::TransformStamped transform;
  EXPECT_EQ(transform.transform.rotation.w, 1.0);  // Quaternion defaults to identity
  EXPECT_EQ(transform.transform.rotation.x, 0.0);

  sensor_msgs::msg::CameraInfo info;
  EXPECT_EQ(info.k.size(), 9u);
  EXPECT_EQ(info.r.size(), 9u);
  EXPECT_EQ(info.p.size(), 12u);
  EXPECT_TRUE(info.d.empty());
  EXPECT_FALSE(info.roi.do_rectify);

  visualization_msgs::msg::MarkerArray markers;
  visualization_msgs::msg::Marker marker;
  marker.type = visualization_msgs::msg::Marker::LINE_LIST;
  marker.action = visualization_msgs::msg::Marker::ADD;
  marker.points.resize(2);
  markers.markers.push_back(marker);
  EXPECT_EQ(visualization_msgs::msg::Marker::LINE_LIST, 5);
  EXPECT_EQ(visualization_msgs::msg::Marker::DELETEALL, 3);
  EXPECT_EQ(markers.markers.front().points.size(), 2u);

  tf2_msgs::msg::TFMessage tf;
  tf.transforms.push_back(transform);
  EXPECT_EQ(tf.transforms.size(), 1u);

  builtin_interfaces::msg::Duration duration;
  geometry_msgs::msg::Point32 point;
  std_msgs::msg::ColorRGBA color;
  EXPECT_EQ(duration.sec, 0);
  EXPECT_EQ(point.x, 0.0f);
  EXPECT_EQ(color.a, 0.0f);

  // Messages compare by value, as generated code provides.
  EXPECT_EQ(TwoPointCloud(), TwoPointCloud());
}
