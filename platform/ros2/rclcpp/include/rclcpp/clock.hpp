// Clocks: system time, ROS time (system time here: there is no simulated time source) and
// steady time.
#pragma once

#include <memory>

#include "rcl/time.h"
#include "rclcpp/time.hpp"

namespace rclcpp {

// Stateless apart from its type; thread-safe.
class Clock {
 public:
  using SharedPtr = std::shared_ptr<Clock>;
  using ConstSharedPtr = std::shared_ptr<const Clock>;
  explicit Clock(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  Time now() const;
  rcl_clock_type_t get_clock_type() const { return clock_type_; }
  // Always false: ROS time follows system time in this process.
  bool ros_time_is_active() const { return false; }

 private:
  rcl_clock_type_t clock_type_;
};

}  // namespace rclcpp
