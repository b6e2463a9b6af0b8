// A point in time of one clock type, with rclcpp's conversions and overflow checks.
#pragma once

#include <cstdint>

#include <builtin_interfaces/msg/time.hpp>

#include "rcl/time.h"
#include "rclcpp/duration.hpp"

namespace rclcpp {

// Value type: nanoseconds since the epoch plus the clock type. Comparing or subtracting
// times of different clock types throws std::runtime_error; arithmetic that leaves int64
// throws std::overflow_error / std::underflow_error.
class Time {
 public:
  // Throws std::runtime_error for negative seconds.
  Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  explicit Time(int64_t nanoseconds = 0, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  // Throws std::runtime_error for a negative stamp.
  Time(const builtin_interfaces::msg::Time& time_msg,  // NOLINT(runtime/explicit)
       rcl_clock_type_t clock_type = RCL_ROS_TIME);
  explicit Time(const rcl_time_point_t& time_point);

  operator builtin_interfaces::msg::Time() const;

  bool operator==(const Time& rhs) const;
  bool operator!=(const Time& rhs) const;
  bool operator<(const Time& rhs) const;
  bool operator<=(const Time& rhs) const;
  bool operator>=(const Time& rhs) const;
  bool operator>(const Time& rhs) const;
  Time operator+(const Duration& rhs) const;
  Duration operator-(const Time& rhs) const;
  Time operator-(const Duration& rhs) const;
  Time& operator+=(const Duration& rhs);
  Time& operator-=(const Duration& rhs);

  rcl_time_point_value_t nanoseconds() const { return nanoseconds_; }
  double seconds() const;
  rcl_clock_type_t get_clock_type() const { return clock_type_; }

  static Time max();

 private:
  rcl_time_point_value_t nanoseconds_{0};
  rcl_clock_type_t clock_type_{RCL_SYSTEM_TIME};
};

Time operator+(const rclcpp::Duration& lhs, const rclcpp::Time& rhs);

}  // namespace rclcpp
