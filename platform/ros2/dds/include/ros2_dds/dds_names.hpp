// How ROS 2 names its topics, services and types on DDS, and back.
#pragma once

#include <optional>
#include <string>

namespace ros2_dds {

// "/scan" -> "rt/scan": ROS topics live under the "rt" prefix.
std::string dds_topic_name(const std::string& ros_topic);
// "/node/get_parameters" -> "rq/node/get_parametersRequest" and "rr/node/get_parametersReply".
std::string dds_request_topic_name(const std::string& ros_service);
std::string dds_reply_topic_name(const std::string& ros_service);

// "sensor_msgs/msg/PointCloud2" -> "sensor_msgs::msg::dds_::PointCloud2_". Throws
// std::invalid_argument for a name that is not "package/msg/Type" (or "package/srv/Type_Request"
// and "_Response", the message types of a service).
std::string dds_type_name(const std::string& ros_type);

// The reverse of dds_topic_name and dds_type_name; nullopt for DDS names that are not ROS 2
// topics (another prefix) or types (no "::dds_::" part).
std::optional<std::string> ros_topic_name(const std::string& dds_topic);
std::optional<std::string> ros_type_name(const std::string& dds_type);

}  // namespace ros2_dds
