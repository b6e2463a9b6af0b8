#include "rclcpp/timer.hpp"

#include <algorithm>
#include <stdexcept>

namespace rclcpp {

TimerBase::TimerBase(Clock::SharedPtr clock, std::chrono::nanoseconds period)
    : clock_(std::move(clock)),
      period_(period),
      next_call_(std::chrono::steady_clock::now() + period) {
  if (period.count() < 0) {
    throw std::invalid_argument("timer period must not be negative");
  }
}

void TimerBase::cancel() {
  canceled_.store(true);
}

void TimerBase::reset() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    next_call_ = std::chrono::steady_clock::now() + period_;
  }
  canceled_.store(false);
  if (auto group = group_.lock()) {
    group->trigger();
  }
}

bool TimerBase::is_ready() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !canceled_.load() && std::chrono::steady_clock::now() >= next_call_;
}

std::chrono::nanoseconds TimerBase::time_until_trigger() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (canceled_.load()) {
    return std::chrono::nanoseconds::max();
  }
  return std::chrono::duration_cast<std::chrono::nanoseconds>(next_call_ -
                                                              std::chrono::steady_clock::now());
}

bool TimerBase::take_ready(SteadyTime now, std::shared_ptr<const void>& work) {
  work.reset();
  if (canceled_.load()) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (now < next_call_) {
    return false;
  }
  next_call_ += period_;
  if (next_call_ <= now) {
    next_call_ = now + period_;
  }
  return true;
}

std::optional<Executable::SteadyTime> TimerBase::next_deadline() const {
  if (canceled_.load()) {
    return std::nullopt;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return next_call_;
}

}  // namespace rclcpp
