#include "ros2cli/lifecycle_commands.hpp"

#include <algorithm>
#include <cctype>

#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_available_transitions.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>

#include "ros2cli/service_call.hpp"

namespace ros2cli {

namespace {

using namespace lifecycle_msgs::srv;

bool isNumber(const std::string& text) {
  return !text.empty() && text.size() < 4 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

int getLifecycleState(const ServiceCommandContext& context, const std::string& node_name) {
  const auto response =
      callService<GetState>(context.node, fullyQualifiedNodeName(node_name) + "/get_state",
                            std::make_shared<GetState::Request>(), context.timeout);
  if (response == nullptr) {
    context.err << "Node not found" << std::endl;
    return 1;
  }
  context.out << response->current_state.label << " ["
              << static_cast<int>(response->current_state.id) << "]" << std::endl;
  return 0;
}

int setLifecycleState(const ServiceCommandContext& context, const std::string& node_name,
                      const std::string& transition) {
  const std::string node = fullyQualifiedNodeName(node_name);
  const auto available = callService<GetAvailableTransitions>(
      context.node, node + "/get_available_transitions",
      std::make_shared<GetAvailableTransitions::Request>(), context.timeout);
  if (available == nullptr) {
    context.err << "Node not found" << std::endl;
    return 1;
  }
  auto request = std::make_shared<ChangeState::Request>();
  bool known = false;
  for (const auto& description : available->available_transitions) {
    const auto& candidate = description.transition;
    if (candidate.label == transition ||
        (isNumber(transition) && candidate.id == std::stoi(transition))) {
      request->transition = candidate;
      known = true;
      break;
    }
  }
  if (!known) {
    context.err << "Unknown transition requested, available ones are:" << std::endl;
    for (const auto& description : available->available_transitions) {
      context.err << "- " << description.transition.label << " ["
                  << static_cast<int>(description.transition.id) << "]" << std::endl;
    }
    return 1;
  }
  const auto response =
      callService<ChangeState>(context.node, node + "/change_state", request, context.timeout);
  if (response == nullptr) {
    context.err << "Node not found" << std::endl;
    return 1;
  }
  if (!response->success) {
    context.out << "Transitioning failed" << std::endl;
    return 1;
  }
  context.out << "Transitioning successful" << std::endl;
  return 0;
}

}  // namespace ros2cli
