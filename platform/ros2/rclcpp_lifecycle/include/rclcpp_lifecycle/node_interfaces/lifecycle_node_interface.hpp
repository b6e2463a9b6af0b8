// The callbacks of a managed node.
#pragma once

#include <cstdint>

#include <lifecycle_msgs/msg/transition.hpp>

#include "rclcpp_lifecycle/state.hpp"

namespace rclcpp_lifecycle {
namespace node_interfaces {

// One callback per transition; each returns SUCCESS (go on), FAILURE (stay in the previous
// primary state) or ERROR (go through error processing). The defaults succeed.
class LifecycleNodeInterface {
 public:
  enum class CallbackReturn : uint8_t {
    SUCCESS = lifecycle_msgs::msg::Transition::TRANSITION_CALLBACK_SUCCESS,
    FAILURE = lifecycle_msgs::msg::Transition::TRANSITION_CALLBACK_FAILURE,
    ERROR = lifecycle_msgs::msg::Transition::TRANSITION_CALLBACK_ERROR
  };

  virtual ~LifecycleNodeInterface() = default;
  virtual CallbackReturn on_configure(const State& previous_state);
  virtual CallbackReturn on_cleanup(const State& previous_state);
  virtual CallbackReturn on_shutdown(const State& previous_state);
  virtual CallbackReturn on_activate(const State& previous_state);
  virtual CallbackReturn on_deactivate(const State& previous_state);
  virtual CallbackReturn on_error(const State& previous_state);

 protected:
  LifecycleNodeInterface() = default;
};

}  // namespace node_interfaces
}  // namespace rclcpp_lifecycle
