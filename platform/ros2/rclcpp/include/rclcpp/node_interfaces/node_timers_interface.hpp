// Where a node's timers are attached to callback groups.
#pragma once

#include <memory>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/timer.hpp"

namespace rclcpp {
namespace node_interfaces {

// Adds timers to a group of its node (the default group when none is given). Holds no
// reference to the timers: the caller owns them.
class NodeTimersInterface {
 public:
  using SharedPtr = std::shared_ptr<NodeTimersInterface>;
  explicit NodeTimersInterface(NodeBaseInterface* node_base) : node_base_(node_base) {}
  virtual ~NodeTimersInterface() = default;

  // Throws std::runtime_error when `callback_group` belongs to another node.
  void add_timer(rclcpp::TimerBase::SharedPtr timer,
                 rclcpp::CallbackGroup::SharedPtr callback_group);

 private:
  NodeBaseInterface* const node_base_;  // owned by the node, which outlives this interface
};

}  // namespace node_interfaces
}  // namespace rclcpp
