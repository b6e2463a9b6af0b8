#include "rclcpp/node_interfaces/node_base_interface.hpp"

namespace rclcpp {
namespace node_interfaces {

NodeBaseInterface::NodeBaseInterface(const std::string& node_name, const std::string& namespace_,
                                     Context::SharedPtr context)
    : name_(node_name),
      namespace_(namespace_),
      fqn_(namespace_ == "/" ? "/" + node_name : namespace_ + "/" + node_name),
      context_(std::move(context)),
      default_group_(std::make_shared<CallbackGroup>(CallbackGroupType::MutuallyExclusive, true)) {
  groups_.push_back(default_group_);
  context_->get_topic_graph()->add_node(namespace_, name_);
}

NodeBaseInterface::~NodeBaseInterface() {
  context_->get_topic_graph()->remove_node(namespace_, name_);
}

CallbackGroup::SharedPtr NodeBaseInterface::create_callback_group(
    CallbackGroupType group_type, bool automatically_add_to_executor_with_node) {
  auto group = std::make_shared<CallbackGroup>(group_type, automatically_add_to_executor_with_node);
  std::shared_ptr<ros2_core::GuardCondition> wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    groups_.push_back(group);
    wake = executor_wake_.lock();
  }
  if (automatically_add_to_executor_with_node && wake != nullptr) {
    group->set_wake_signal(wake);
    wake->trigger();
  }
  return group;
}

bool NodeBaseInterface::callback_group_in_node(CallbackGroup::SharedPtr group) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& weak : groups_) {
    if (weak.lock() == group) {
      return true;
    }
  }
  return false;
}

void NodeBaseInterface::for_each_callback_group(
    const std::function<void(CallbackGroup::SharedPtr)>& func) {
  std::vector<CallbackGroup::SharedPtr> groups;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& weak : groups_) {
      if (auto group = weak.lock()) {
        groups.push_back(group);
      }
    }
  }
  for (const auto& group : groups) {
    func(group);
  }
}

void NodeBaseInterface::set_executor_wake_signal(
    const std::shared_ptr<ros2_core::GuardCondition>& wake) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    executor_wake_ = wake;
  }
  for_each_callback_group([&](CallbackGroup::SharedPtr group) {
    if (group->automatically_add_to_executor_with_node()) {
      group->set_wake_signal(wake);
    }
  });
}

}  // namespace node_interfaces
}  // namespace rclcpp
