#include "ros2_dds/dds_names.hpp"

#include <stdexcept>

namespace ros2_dds {
namespace {

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "/a/b" and "a/b" both become "a/b" after the prefix.
std::string with_prefix(const std::string& prefix, const std::string& ros_name) {
  return prefix + (starts_with(ros_name, "/") ? ros_name.substr(1) : ros_name);
}

}  // namespace

std::string dds_topic_name(const std::string& ros_topic) {
  return with_prefix("rt/", ros_topic);
}

std::string dds_request_topic_name(const std::string& ros_service) {
  return with_prefix("rq/", ros_service) + "Request";
}

std::string dds_reply_topic_name(const std::string& ros_service) {
  return with_prefix("rr/", ros_service) + "Reply";
}

std::string dds_type_name(const std::string& ros_type) {
  const auto first = ros_type.find('/');
  const auto second = first == std::string::npos ? first : ros_type.find('/', first + 1);
  if (first == std::string::npos || second == std::string::npos || first == 0 ||
      second == first + 1 || second + 1 >= ros_type.size() ||
      ros_type.find('/', second + 1) != std::string::npos) {
    throw std::invalid_argument("'" + ros_type +
                                "' is not a ROS 2 type name of the form package/msg/Type");
  }
  return ros_type.substr(0, first) + "::" + ros_type.substr(first + 1, second - first - 1) +
         "::dds_::" + ros_type.substr(second + 1) + "_";
}

std::optional<std::string> ros_topic_name(const std::string& dds_topic) {
  if (!starts_with(dds_topic, "rt/") || dds_topic.size() == 3) {
    return std::nullopt;
  }
  return "/" + dds_topic.substr(3);
}

std::optional<std::string> ros_type_name(const std::string& dds_type) {
  const std::string marker = "::dds_::";
  const auto at = dds_type.find(marker);
  const auto first = dds_type.find("::");
  if (at == std::string::npos || first == at || !ends_with(dds_type, "_") ||
      at + marker.size() + 1 >= dds_type.size()) {
    return std::nullopt;
  }
  return dds_type.substr(0, first) + "/" + dds_type.substr(first + 2, at - first - 2) + "/" +
         dds_type.substr(at + marker.size(), dds_type.size() - at - marker.size() - 1);
}

}  // namespace ros2_dds
