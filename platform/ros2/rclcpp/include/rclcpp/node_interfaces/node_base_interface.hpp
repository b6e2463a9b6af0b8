// The identity of a node and its callback groups, as executors see it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/context.hpp"
#include "ros2_core/guard_condition.hpp"

namespace rclcpp {
namespace node_interfaces {

// Owns the node's name, namespace, context and callback groups (the default group is a
// mutually exclusive one). A node belongs to at most one executor at a time: add_node sets
// `get_associated_with_executor_atomic` and hands over its wake-up signal, which every
// automatically added group (present or future) then uses. Thread-safe.
class NodeBaseInterface {
 public:
  using SharedPtr = std::shared_ptr<NodeBaseInterface>;
  using WeakPtr = std::weak_ptr<NodeBaseInterface>;

  NodeBaseInterface(const std::string& node_name, const std::string& namespace_,
                    Context::SharedPtr context);
  virtual ~NodeBaseInterface();

  const char* get_name() const { return name_.c_str(); }
  const char* get_namespace() const { return namespace_.c_str(); }
  const char* get_fully_qualified_name() const { return fqn_.c_str(); }
  Context::SharedPtr get_context() { return context_; }

  CallbackGroup::SharedPtr create_callback_group(
      CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true);
  CallbackGroup::SharedPtr get_default_callback_group() { return default_group_; }
  bool callback_group_in_node(CallbackGroup::SharedPtr group);
  void for_each_callback_group(const std::function<void(CallbackGroup::SharedPtr)>& func);

  std::atomic_bool& get_associated_with_executor_atomic() { return associated_with_executor_; }
  // Installs (or, with nullptr, removes) the wake-up signal of the executor that serves the
  // node's automatically added groups.
  void set_executor_wake_signal(const std::shared_ptr<ros2_core::GuardCondition>& wake);

 private:
  const std::string name_;
  const std::string namespace_;
  const std::string fqn_;
  const Context::SharedPtr context_;
  std::atomic_bool associated_with_executor_{false};
  mutable std::mutex mutex_;
  CallbackGroup::SharedPtr default_group_;
  std::vector<CallbackGroup::WeakPtr> groups_;              // guarded by mutex_
  std::weak_ptr<ros2_core::GuardCondition> executor_wake_;  // guarded by mutex_
};

}  // namespace node_interfaces
}  // namespace rclcpp
