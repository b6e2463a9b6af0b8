// Callback groups: which callbacks may run at the same time.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "rclcpp/executable.hpp"
#include "ros2_core/guard_condition.hpp"

namespace rclcpp {

enum class CallbackGroupType { MutuallyExclusive, Reentrant };

// Holds weak references to its subscriptions and timers. In a mutually exclusive group at
// most one callback runs at a time: the executor clears `can_be_taken_from` while it runs
// one. The group knows the wake-up signal of the executor it belongs to (if any), so new
// work reaches the right executor. Thread-safe.
class CallbackGroup {
 public:
  using SharedPtr = std::shared_ptr<CallbackGroup>;
  using WeakPtr = std::weak_ptr<CallbackGroup>;

  explicit CallbackGroup(CallbackGroupType group_type,
                         bool automatically_add_to_executor_with_node = true);

  CallbackGroupType type() const { return type_; }
  bool automatically_add_to_executor_with_node() const { return auto_add_; }
  std::atomic_bool& can_be_taken_from() { return can_be_taken_from_; }
  std::atomic_bool& get_associated_with_executor_atomic() { return associated_with_executor_; }

  void add_executable(const std::shared_ptr<Executable>& executable);
  // Live members, pruning expired ones.
  std::vector<std::shared_ptr<Executable>> executables();

  // Wakes the executor this group belongs to.
  void trigger();
  void set_wake_signal(const std::shared_ptr<ros2_core::GuardCondition>& wake);
  std::shared_ptr<ros2_core::GuardCondition> wake_signal() const;

 private:
  const CallbackGroupType type_;
  const bool auto_add_;
  std::atomic_bool can_be_taken_from_{true};
  std::atomic_bool associated_with_executor_{false};
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<Executable>> executables_;  // guarded by mutex_
  std::weak_ptr<ros2_core::GuardCondition> wake_;       // guarded by mutex_
};

}  // namespace rclcpp
