#include "ros2_core/guard_condition.hpp"

namespace ros2_core {

void GuardCondition::trigger() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
  }
  changed_.notify_all();
}

std::uint64_t GuardCondition::generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

bool GuardCondition::wait_for_change(std::uint64_t seen, Clock::time_point deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_until(lock, deadline, [&] { return generation_ != seen; });
}

void GuardCondition::wait_for_change(std::uint64_t seen) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return generation_ != seen; });
}

}  // namespace ros2_core
