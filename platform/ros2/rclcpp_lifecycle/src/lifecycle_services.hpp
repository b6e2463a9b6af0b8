// The services through which other processes drive and inspect a lifecycle node.
#pragma once

#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_available_states.hpp>
#include <lifecycle_msgs/srv/get_available_transitions.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>

#include "rclcpp/service.hpp"

namespace rclcpp_lifecycle {

class LifecycleNode;

namespace detail {

// Offers "~/change_state", "~/get_state", "~/get_available_states" and
// "~/get_available_transitions" in the node's default callback group, answered by the node's
// state machine. change_state takes the transition by label when one is given (ids default to
// 0 in a request typed by hand), else by id; it succeeds when the transition's callback
// returned SUCCESS, and fails for a transition the current state does not offer. Owned by the
// node, which outlives it.
class LifecycleServices {
 public:
  explicit LifecycleServices(LifecycleNode& node);

 private:
  rclcpp::Service<lifecycle_msgs::srv::ChangeState>::SharedPtr change_state_;
  rclcpp::Service<lifecycle_msgs::srv::GetState>::SharedPtr get_state_;
  rclcpp::Service<lifecycle_msgs::srv::GetAvailableStates>::SharedPtr get_available_states_;
  rclcpp::Service<lifecycle_msgs::srv::GetAvailableTransitions>::SharedPtr
      get_available_transitions_;
};

}  // namespace detail
}  // namespace rclcpp_lifecycle
