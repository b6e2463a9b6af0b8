// `ros2 param list|get|set` against one node's parameter services.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "rclcpp/node.hpp"

namespace ros2cli {

// Where a verb talks from and how long it waits for the target node's services.
struct ServiceCommandContext {
  rclcpp::Node::SharedPtr node;  // the tool's own node, its requests come from here
  std::chrono::milliseconds timeout{std::chrono::seconds(5)};
  std::ostream& out;
  std::ostream& err;
};

// Each returns the exit status: 0 done, 1 when the node did not answer ("Node not found") or the
// request failed.
int listParameters(const ServiceCommandContext& context, const std::string& node_name);
int getParameter(const ServiceCommandContext& context, const std::string& node_name,
                 const std::string& parameter);
int setParameter(const ServiceCommandContext& context, const std::string& node_name,
                 const std::string& parameter, const std::string& value_text);

}  // namespace ros2cli
