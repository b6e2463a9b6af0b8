#include "rclcpp/callback_group.hpp"

#include <algorithm>

namespace rclcpp {

CallbackGroup::CallbackGroup(CallbackGroupType group_type,
                             bool automatically_add_to_executor_with_node)
    : type_(group_type), auto_add_(automatically_add_to_executor_with_node) {}

void CallbackGroup::add_executable(const std::shared_ptr<Executable>& executable) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    executables_.push_back(executable);
  }
  // A new timer changes when the executor has to wake up next.
  trigger();
}

std::vector<std::shared_ptr<Executable>> CallbackGroup::executables() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<Executable>> live;
  live.reserve(executables_.size());
  auto kept = executables_.begin();
  for (auto& weak : executables_) {
    if (auto strong = weak.lock()) {
      live.push_back(std::move(strong));
      *kept++ = weak;
    }
  }
  executables_.erase(kept, executables_.end());
  return live;
}

void CallbackGroup::trigger() {
  std::shared_ptr<ros2_core::GuardCondition> wake = wake_signal();
  if (wake != nullptr) {
    wake->trigger();
  }
}

void CallbackGroup::set_wake_signal(const std::shared_ptr<ros2_core::GuardCondition>& wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  wake_ = wake;
}

std::shared_ptr<ros2_core::GuardCondition> CallbackGroup::wake_signal() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wake_.lock();
}

}  // namespace rclcpp
