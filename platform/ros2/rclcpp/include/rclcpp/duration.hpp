// A signed span of time in nanoseconds, with rclcpp's conversions and overflow checks.
#pragma once

#include <chrono>
#include <cstdint>

#include <builtin_interfaces/msg/duration.hpp>

#include "rcl/time.h"

namespace rclcpp {

// Value type. Arithmetic throws std::overflow_error / std::underflow_error instead of
// wrapping, with rclcpp's texts.
class Duration {
 public:
  Duration(int32_t seconds, uint32_t nanoseconds);
  explicit Duration(std::chrono::nanoseconds nanoseconds);
  // Any other std::chrono duration converts implicitly, truncated to nanoseconds.
  template <class Rep, class Period>
  Duration(const std::chrono::duration<Rep, Period>& duration)  // NOLINT(runtime/explicit)
      : Duration(std::chrono::duration_cast<std::chrono::nanoseconds>(duration)) {}
  Duration(const builtin_interfaces::msg::Duration& duration_msg);  // NOLINT(runtime/explicit)
  explicit Duration(const rcl_duration_t& duration);

  operator builtin_interfaces::msg::Duration() const;

  bool operator==(const Duration& rhs) const { return nanoseconds_ == rhs.nanoseconds_; }
  bool operator!=(const Duration& rhs) const { return nanoseconds_ != rhs.nanoseconds_; }
  bool operator<(const Duration& rhs) const { return nanoseconds_ < rhs.nanoseconds_; }
  bool operator<=(const Duration& rhs) const { return nanoseconds_ <= rhs.nanoseconds_; }
  bool operator>(const Duration& rhs) const { return nanoseconds_ > rhs.nanoseconds_; }
  bool operator>=(const Duration& rhs) const { return nanoseconds_ >= rhs.nanoseconds_; }

  Duration operator+(const Duration& rhs) const;
  Duration& operator+=(const Duration& rhs);
  Duration operator-(const Duration& rhs) const;
  Duration& operator-=(const Duration& rhs);
  Duration operator*(double scale) const;
  Duration& operator*=(double scale);

  static Duration max();

  rcl_duration_value_t nanoseconds() const { return nanoseconds_; }
  double seconds() const;

  template <class DurationT>
  DurationT to_chrono() const {
    return std::chrono::duration_cast<DurationT>(std::chrono::nanoseconds(nanoseconds_));
  }

  static Duration from_seconds(double seconds);
  static Duration from_nanoseconds(rcl_duration_value_t nanoseconds);

 private:
  Duration() = default;
  rcl_duration_value_t nanoseconds_{0};
};

}  // namespace rclcpp
