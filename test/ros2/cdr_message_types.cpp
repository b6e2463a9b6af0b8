// The table of every generated message type (services' requests and responses included), by
// name, with its introspection description.
#include <stdexcept>

#include <builtin_interfaces/msg/duration.hpp>
#include <builtin_interfaces/msg/time.hpp>
#include <corvanta_protocol/msg/semantic_obstacle.hpp>
#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <corvanta_protocol/msg/shape_point.hpp>
#include <geometry_msgs/msg/point.hpp>
#include <geometry_msgs/msg/point32.hpp>
#include <geometry_msgs/msg/pose.hpp>
#include <geometry_msgs/msg/quaternion.hpp>
#include <geometry_msgs/msg/transform.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <geometry_msgs/msg/vector3.hpp>
#include <lifecycle_msgs/msg/state.hpp>
#include <lifecycle_msgs/msg/transition.hpp>
#include <lifecycle_msgs/msg/transition_description.hpp>
#include <lifecycle_msgs/msg/transition_event.hpp>
#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_available_states.hpp>
#include <lifecycle_msgs/srv/get_available_transitions.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <livox_ros_driver2/msg/custom_point.hpp>
#include <rcl_interfaces/msg/floating_point_range.hpp>
#include <rcl_interfaces/msg/integer_range.hpp>
#include <rcl_interfaces/msg/list_parameters_result.hpp>
#include <rcl_interfaces/msg/parameter.hpp>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <rcl_interfaces/msg/set_parameters_result.hpp>
#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>
#include <rmw_dds_common/msg/gid.hpp>
#include <rmw_dds_common/msg/node_entities_info.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/compressed_image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <sensor_msgs/msg/point_field.hpp>
#include <sensor_msgs/msg/region_of_interest.hpp>
#include <std_msgs/msg/color_rgba.hpp>
#include <std_msgs/msg/header.hpp>
#include <tf2_msgs/msg/tf_message.hpp>
#include <visualization_msgs/msg/marker.hpp>
#include <visualization_msgs/msg/marker_array.hpp>
#include <visualization_msgs/msg/mesh_file.hpp>
#include <visualization_msgs/msg/uv_coordinate.hpp>

#include "cdr_test_support.hpp"

namespace cdr_test {

namespace {
template <typename T>
MessageType entry(const char* name) {
  return {name, &members_of<T>()};
}
}  // namespace

const std::vector<MessageType>& all_message_types() {
  static const std::vector<MessageType> types = {
      entry<builtin_interfaces::msg::Duration>("builtin_interfaces/msg/Duration"),
      entry<builtin_interfaces::msg::Time>("builtin_interfaces/msg/Time"),
      entry<corvanta_protocol::msg::SemanticObstacle>("corvanta_protocol/msg/SemanticObstacle"),
      entry<corvanta_protocol::msg::SemanticPointCloud>("corvanta_protocol/msg/SemanticPointCloud"),
      entry<corvanta_protocol::msg::ShapePoint>("corvanta_protocol/msg/ShapePoint"),
      entry<geometry_msgs::msg::Point>("geometry_msgs/msg/Point"),
      entry<geometry_msgs::msg::Point32>("geometry_msgs/msg/Point32"),
      entry<geometry_msgs::msg::Pose>("geometry_msgs/msg/Pose"),
      entry<geometry_msgs::msg::Quaternion>("geometry_msgs/msg/Quaternion"),
      entry<geometry_msgs::msg::Transform>("geometry_msgs/msg/Transform"),
      entry<geometry_msgs::msg::TransformStamped>("geometry_msgs/msg/TransformStamped"),
      entry<geometry_msgs::msg::Vector3>("geometry_msgs/msg/Vector3"),
      entry<lifecycle_msgs::msg::State>("lifecycle_msgs/msg/State"),
      entry<lifecycle_msgs::msg::Transition>("lifecycle_msgs/msg/Transition"),
      entry<lifecycle_msgs::msg::TransitionDescription>("lifecycle_msgs/msg/TransitionDescription"),
      entry<lifecycle_msgs::msg::TransitionEvent>("lifecycle_msgs/msg/TransitionEvent"),
      entry<lifecycle_msgs::srv::ChangeState_Request>("lifecycle_msgs/srv/ChangeState_Request"),
      entry<lifecycle_msgs::srv::ChangeState_Response>("lifecycle_msgs/srv/ChangeState_Response"),
      entry<lifecycle_msgs::srv::GetAvailableStates_Request>(
          "lifecycle_msgs/srv/GetAvailableStates_Request"),
      entry<lifecycle_msgs::srv::GetAvailableStates_Response>(
          "lifecycle_msgs/srv/GetAvailableStates_Response"),
      entry<lifecycle_msgs::srv::GetAvailableTransitions_Request>(
          "lifecycle_msgs/srv/GetAvailableTransitions_Request"),
      entry<lifecycle_msgs::srv::GetAvailableTransitions_Response>(
          "lifecycle_msgs/srv/GetAvailableTransitions_Response"),
      entry<lifecycle_msgs::srv::GetState_Request>("lifecycle_msgs/srv/GetState_Request"),
      entry<lifecycle_msgs::srv::GetState_Response>("lifecycle_msgs/srv/GetState_Response"),
      entry<livox_ros_driver2::msg::CustomMsg>("livox_ros_driver2/msg/CustomMsg"),
      entry<livox_ros_driver2::msg::CustomPoint>("livox_ros_driver2/msg/CustomPoint"),
      entry<rcl_interfaces::msg::FloatingPointRange>("rcl_interfaces/msg/FloatingPointRange"),
      entry<rcl_interfaces::msg::IntegerRange>("rcl_interfaces/msg/IntegerRange"),
      entry<rcl_interfaces::msg::ListParametersResult>("rcl_interfaces/msg/ListParametersResult"),
      entry<rcl_interfaces::msg::Parameter>("rcl_interfaces/msg/Parameter"),
      entry<rcl_interfaces::msg::ParameterDescriptor>("rcl_interfaces/msg/ParameterDescriptor"),
      entry<rcl_interfaces::msg::ParameterType>("rcl_interfaces/msg/ParameterType"),
      entry<rcl_interfaces::msg::ParameterValue>("rcl_interfaces/msg/ParameterValue"),
      entry<rcl_interfaces::msg::SetParametersResult>("rcl_interfaces/msg/SetParametersResult"),
      entry<rcl_interfaces::srv::DescribeParameters_Request>(
          "rcl_interfaces/srv/DescribeParameters_Request"),
      entry<rcl_interfaces::srv::DescribeParameters_Response>(
          "rcl_interfaces/srv/DescribeParameters_Response"),
      entry<rcl_interfaces::srv::GetParameterTypes_Request>(
          "rcl_interfaces/srv/GetParameterTypes_Request"),
      entry<rcl_interfaces::srv::GetParameterTypes_Response>(
          "rcl_interfaces/srv/GetParameterTypes_Response"),
      entry<rcl_interfaces::srv::GetParameters_Request>("rcl_interfaces/srv/GetParameters_Request"),
      entry<rcl_interfaces::srv::GetParameters_Response>(
          "rcl_interfaces/srv/GetParameters_Response"),
      entry<rcl_interfaces::srv::ListParameters_Request>(
          "rcl_interfaces/srv/ListParameters_Request"),
      entry<rcl_interfaces::srv::ListParameters_Response>(
          "rcl_interfaces/srv/ListParameters_Response"),
      entry<rcl_interfaces::srv::SetParameters_Request>("rcl_interfaces/srv/SetParameters_Request"),
      entry<rcl_interfaces::srv::SetParameters_Response>(
          "rcl_interfaces/srv/SetParameters_Response"),
      entry<rcl_interfaces::srv::SetParametersAtomically_Request>(
          "rcl_interfaces/srv/SetParametersAtomically_Request"),
      entry<rcl_interfaces::srv::SetParametersAtomically_Response>(
          "rcl_interfaces/srv/SetParametersAtomically_Response"),
      entry<rmw_dds_common::msg::Gid>("rmw_dds_common/msg/Gid"),
      entry<rmw_dds_common::msg::NodeEntitiesInfo>("rmw_dds_common/msg/NodeEntitiesInfo"),
      entry<rmw_dds_common::msg::ParticipantEntitiesInfo>(
          "rmw_dds_common/msg/ParticipantEntitiesInfo"),
      entry<sensor_msgs::msg::CameraInfo>("sensor_msgs/msg/CameraInfo"),
      entry<sensor_msgs::msg::CompressedImage>("sensor_msgs/msg/CompressedImage"),
      entry<sensor_msgs::msg::PointCloud2>("sensor_msgs/msg/PointCloud2"),
      entry<sensor_msgs::msg::PointField>("sensor_msgs/msg/PointField"),
      entry<sensor_msgs::msg::RegionOfInterest>("sensor_msgs/msg/RegionOfInterest"),
      entry<std_msgs::msg::ColorRGBA>("std_msgs/msg/ColorRGBA"),
      entry<std_msgs::msg::Header>("std_msgs/msg/Header"),
      entry<tf2_msgs::msg::TFMessage>("tf2_msgs/msg/TFMessage"),
      entry<visualization_msgs::msg::Marker>("visualization_msgs/msg/Marker"),
      entry<visualization_msgs::msg::MarkerArray>("visualization_msgs/msg/MarkerArray"),
      entry<visualization_msgs::msg::MeshFile>("visualization_msgs/msg/MeshFile"),
      entry<visualization_msgs::msg::UVCoordinate>("visualization_msgs/msg/UVCoordinate"),
  };
  return types;
}

const MessageMembers& members_of(const std::string& name) {
  for (const MessageType& type : all_message_types()) {
    if (type.name == name) {
      return *type.members;
    }
  }
  throw std::invalid_argument("no generated message type " + name);
}

}  // namespace cdr_test
