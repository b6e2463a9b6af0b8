#include "rclcpp/time.hpp"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "rclcpp/clock.hpp"

namespace rclcpp {
namespace {

constexpr int64_t kNanosPerSecond = 1000LL * 1000LL * 1000LL;

// Seconds and a non-negative nanosecond part, as the builtin_interfaces messages carry them.
template <typename MessageT>
MessageT splitNanoseconds(int64_t nanoseconds) {
  MessageT msg;
  const auto result = std::div(nanoseconds, kNanosPerSecond);
  if (result.rem >= 0) {
    msg.sec = static_cast<int32_t>(result.quot);
    msg.nanosec = static_cast<uint32_t>(result.rem);
  } else {
    msg.sec = static_cast<int32_t>(result.quot - 1);
    msg.nanosec = static_cast<uint32_t>(kNanosPerSecond + result.rem);
  }
  return msg;
}

bool add_will_overflow(int64_t x, int64_t y) {
  return y > 0 && x > std::numeric_limits<int64_t>::max() - y;
}
bool add_will_underflow(int64_t x, int64_t y) {
  return y < 0 && x < std::numeric_limits<int64_t>::min() - y;
}
bool sub_will_overflow(int64_t x, int64_t y) {
  return y < 0 && x > std::numeric_limits<int64_t>::max() + y;
}
bool sub_will_underflow(int64_t x, int64_t y) {
  return y > 0 && x < std::numeric_limits<int64_t>::min() + y;
}

void require_same_clock(rcl_clock_type_t a, rcl_clock_type_t b, const char* what) {
  if (a != b) {
    throw std::runtime_error(what);
  }
}

}  // namespace

// ---- Duration ----

Duration::Duration(int32_t seconds, uint32_t nanoseconds)
    : nanoseconds_(RCL_S_TO_NS(static_cast<int64_t>(seconds)) + static_cast<int64_t>(nanoseconds)) {
}

Duration::Duration(std::chrono::nanoseconds nanoseconds) : nanoseconds_(nanoseconds.count()) {}

Duration::Duration(const builtin_interfaces::msg::Duration& duration_msg)
    : nanoseconds_(RCL_S_TO_NS(static_cast<int64_t>(duration_msg.sec)) +
                   static_cast<int64_t>(duration_msg.nanosec)) {}

Duration::Duration(const rcl_duration_t& duration) : nanoseconds_(duration.nanoseconds) {}

Duration::operator builtin_interfaces::msg::Duration() const {
  return splitNanoseconds<builtin_interfaces::msg::Duration>(nanoseconds_);
}

Duration Duration::operator+(const Duration& rhs) const {
  if (add_will_overflow(nanoseconds_, rhs.nanoseconds_)) {
    throw std::overflow_error("addition leads to int64_t overflow");
  }
  if (add_will_underflow(nanoseconds_, rhs.nanoseconds_)) {
    throw std::underflow_error("addition leads to int64_t underflow");
  }
  return from_nanoseconds(nanoseconds_ + rhs.nanoseconds_);
}

Duration& Duration::operator+=(const Duration& rhs) {
  return *this = *this + rhs;
}

Duration Duration::operator-(const Duration& rhs) const {
  if (sub_will_overflow(nanoseconds_, rhs.nanoseconds_)) {
    throw std::overflow_error("duration subtraction leads to int64_t overflow");
  }
  if (sub_will_underflow(nanoseconds_, rhs.nanoseconds_)) {
    throw std::underflow_error("duration subtraction leads to int64_t underflow");
  }
  return from_nanoseconds(nanoseconds_ - rhs.nanoseconds_);
}

Duration& Duration::operator-=(const Duration& rhs) {
  return *this = *this - rhs;
}

Duration Duration::operator*(double scale) const {
  if (!std::isfinite(scale)) {
    throw std::runtime_error("abnormal scale in rclcpp::Duration");
  }
  const long double scaled = static_cast<long double>(nanoseconds_) * scale;
  if (scaled > static_cast<long double>(std::numeric_limits<int64_t>::max())) {
    throw std::overflow_error("duration scaling leads to int64_t overflow");
  }
  if (scaled < static_cast<long double>(std::numeric_limits<int64_t>::min())) {
    throw std::underflow_error("duration scaling leads to int64_t underflow");
  }
  return from_nanoseconds(static_cast<int64_t>(scaled));
}

Duration& Duration::operator*=(double scale) {
  return *this = *this * scale;
}

Duration Duration::max() {
  return Duration(std::numeric_limits<int32_t>::max(), 999999999);
}

double Duration::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds_)).count();
}

Duration Duration::from_seconds(double seconds) {
  return Duration(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds)));
}

Duration Duration::from_nanoseconds(rcl_duration_value_t nanoseconds) {
  Duration result;
  result.nanoseconds_ = nanoseconds;
  return result;
}

// ---- Time ----

Time::Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type)
    : clock_type_(clock_type) {
  if (seconds < 0) {
    throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  }
  nanoseconds_ = RCL_S_TO_NS(static_cast<int64_t>(seconds)) + static_cast<int64_t>(nanoseconds);
}

Time::Time(int64_t nanoseconds, rcl_clock_type_t clock_type)
    : nanoseconds_(nanoseconds), clock_type_(clock_type) {}

Time::Time(const builtin_interfaces::msg::Time& time_msg, rcl_clock_type_t clock_type)
    : clock_type_(clock_type) {
  if (time_msg.sec < 0) {
    throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  }
  nanoseconds_ =
      RCL_S_TO_NS(static_cast<int64_t>(time_msg.sec)) + static_cast<int64_t>(time_msg.nanosec);
}

Time::Time(const rcl_time_point_t& time_point)
    : nanoseconds_(time_point.nanoseconds), clock_type_(time_point.clock_type) {}

Time::operator builtin_interfaces::msg::Time() const {
  return splitNanoseconds<builtin_interfaces::msg::Time>(nanoseconds_);
}

bool Time::operator==(const Time& rhs) const {
  require_same_clock(clock_type_, rhs.clock_type_,
                     "can't compare times with different time sources");
  return nanoseconds_ == rhs.nanoseconds_;
}
bool Time::operator!=(const Time& rhs) const {
  return !(*this == rhs);
}
bool Time::operator<(const Time& rhs) const {
  require_same_clock(clock_type_, rhs.clock_type_,
                     "can't compare times with different time sources");
  return nanoseconds_ < rhs.nanoseconds_;
}
bool Time::operator<=(const Time& rhs) const {
  require_same_clock(clock_type_, rhs.clock_type_,
                     "can't compare times with different time sources");
  return nanoseconds_ <= rhs.nanoseconds_;
}
bool Time::operator>=(const Time& rhs) const {
  require_same_clock(clock_type_, rhs.clock_type_,
                     "can't compare times with different time sources");
  return nanoseconds_ >= rhs.nanoseconds_;
}
bool Time::operator>(const Time& rhs) const {
  require_same_clock(clock_type_, rhs.clock_type_,
                     "can't compare times with different time sources");
  return nanoseconds_ > rhs.nanoseconds_;
}

Time Time::operator+(const Duration& rhs) const {
  if (add_will_overflow(nanoseconds_, rhs.nanoseconds())) {
    throw std::overflow_error("addition leads to int64_t overflow");
  }
  if (add_will_underflow(nanoseconds_, rhs.nanoseconds())) {
    throw std::underflow_error("addition leads to int64_t underflow");
  }
  return Time(nanoseconds_ + rhs.nanoseconds(), clock_type_);
}

Duration Time::operator-(const Time& rhs) const {
  require_same_clock(clock_type_, rhs.clock_type_,
                     "can't subtract times with different time sources");
  if (sub_will_overflow(nanoseconds_, rhs.nanoseconds_)) {
    throw std::overflow_error("time subtraction leads to int64_t overflow");
  }
  if (sub_will_underflow(nanoseconds_, rhs.nanoseconds_)) {
    throw std::underflow_error("time subtraction leads to int64_t underflow");
  }
  return Duration::from_nanoseconds(nanoseconds_ - rhs.nanoseconds_);
}

Time Time::operator-(const Duration& rhs) const {
  if (sub_will_overflow(nanoseconds_, rhs.nanoseconds())) {
    throw std::overflow_error("time subtraction leads to int64_t overflow");
  }
  if (sub_will_underflow(nanoseconds_, rhs.nanoseconds())) {
    throw std::underflow_error("time subtraction leads to int64_t underflow");
  }
  return Time(nanoseconds_ - rhs.nanoseconds(), clock_type_);
}

Time& Time::operator+=(const Duration& rhs) {
  return *this = *this + rhs;
}
Time& Time::operator-=(const Duration& rhs) {
  return *this = *this - rhs;
}

double Time::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds_)).count();
}

Time Time::max() {
  return Time(std::numeric_limits<int32_t>::max(), 999999999);
}

Time operator+(const rclcpp::Duration& lhs, const rclcpp::Time& rhs) {
  return rhs + lhs;
}

// ---- Clock ----

Clock::Clock(rcl_clock_type_t clock_type) : clock_type_(clock_type) {
  if (clock_type == RCL_CLOCK_UNINITIALIZED) {
    throw std::invalid_argument("clock type must not be RCL_CLOCK_UNINITIALIZED");
  }
}

Time Clock::now() const {
  int64_t nanoseconds = 0;
  if (clock_type_ == RCL_STEADY_TIME) {
    nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  } else {
    nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  }
  return Time(nanoseconds, clock_type_);
}

}  // namespace rclcpp
