// Time, Duration and their conversions, checked against hand-computed values.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "rclcpp/rclcpp.hpp"

TEST(TimeConversions, MessageRoundTripAndNegativeValues) {
  builtin_interfaces::msg::Time stamp;
  stamp.sec = 10;
  stamp.nanosec = 999999000;
  const rclcpp::Time t(stamp, RCL_ROS_TIME);
  EXPECT_EQ(t.nanoseconds(), 10999999000LL);
  EXPECT_EQ(t.get_clock_type(), RCL_ROS_TIME);
  EXPECT_DOUBLE_EQ(t.seconds(), 10.999999);

  const rclcpp::Time later = t + rclcpp::Duration(0, 2000);
  const builtin_interfaces::msg::Time back = later;
  EXPECT_EQ(back.sec, 11);
  EXPECT_EQ(back.nanosec, 1000u);

  // Negative nanoseconds split into a negative second and a positive remainder.
  const builtin_interfaces::msg::Time negative = rclcpp::Time(-1500000000LL);
  EXPECT_EQ(negative.sec, -2);
  EXPECT_EQ(negative.nanosec, 500000000u);

  builtin_interfaces::msg::Time before_epoch;
  before_epoch.sec = -1;
  EXPECT_THROW(rclcpp::Time{before_epoch}, std::runtime_error);
  EXPECT_THROW(rclcpp::Time(-1, 0), std::runtime_error);
}

TEST(TimeArithmetic, DifferencesClockTypesAndOverflow) {
  const rclcpp::Time a(5, 0, RCL_ROS_TIME);
  const rclcpp::Time b(3, 250000000, RCL_ROS_TIME);
  EXPECT_EQ((a - b).nanoseconds(), 1750000000LL);
  EXPECT_DOUBLE_EQ((b - a).seconds(), -1.75);
  EXPECT_TRUE(b < a);
  EXPECT_EQ((a - rclcpp::Duration::from_seconds(0.5)).nanoseconds(), 4500000000LL);

  const rclcpp::Time system(5, 0, RCL_SYSTEM_TIME);
  EXPECT_THROW((void)(a - system), std::runtime_error);
  EXPECT_THROW((void)(a < system), std::runtime_error);

  const rclcpp::Time near_max(std::numeric_limits<int64_t>::max() - 10, RCL_ROS_TIME);
  EXPECT_THROW(near_max + rclcpp::Duration::from_nanoseconds(11), std::overflow_error);
}

TEST(DurationConversions, SecondsNanosecondsAndChrono) {
  EXPECT_EQ(rclcpp::Duration(1, 500000000).nanoseconds(), 1500000000LL);
  EXPECT_EQ(rclcpp::Duration::from_seconds(0.25).nanoseconds(), 250000000LL);
  EXPECT_EQ(rclcpp::Duration::from_seconds(-1.5).nanoseconds(), -1500000000LL);
  EXPECT_EQ(rclcpp::Duration(std::chrono::milliseconds(20)).nanoseconds(), 20000000LL);
  EXPECT_EQ(rclcpp::Duration(2, 0).to_chrono<std::chrono::milliseconds>().count(), 2000);
  EXPECT_EQ((rclcpp::Duration(1, 0) * 2.5).nanoseconds(), 2500000000LL);
  const builtin_interfaces::msg::Duration msg = rclcpp::Duration::from_nanoseconds(-250000000LL);
  EXPECT_EQ(msg.sec, -1);
  EXPECT_EQ(msg.nanosec, 750000000u);
  EXPECT_THROW(rclcpp::Duration::from_nanoseconds(std::numeric_limits<int64_t>::max()) +
                   rclcpp::Duration::from_nanoseconds(1),
               std::overflow_error);
}

TEST(Clocks, NodeClockIsRosTimeAndFollowsSystemTime) {
  rclcpp::Clock system(RCL_SYSTEM_TIME);
  rclcpp::Clock ros(RCL_ROS_TIME);
  const auto before = std::chrono::system_clock::now().time_since_epoch();
  const rclcpp::Time t = ros.now();
  const auto after = std::chrono::system_clock::now().time_since_epoch();
  EXPECT_EQ(t.get_clock_type(), RCL_ROS_TIME);
  EXPECT_GE(t.nanoseconds(), std::chrono::duration_cast<std::chrono::nanoseconds>(before).count());
  EXPECT_LE(t.nanoseconds(), std::chrono::duration_cast<std::chrono::nanoseconds>(after).count());
  EXPECT_EQ(system.now().get_clock_type(), RCL_SYSTEM_TIME);
}

namespace {

// Checks that `operation` throws exactly `Expected` with rclcpp's text.
template <typename Expected, typename Operation>
void expect_throw_text(Operation operation, const std::string& text) {
  try {
    operation();
    ADD_FAILURE() << "no exception, expected: " << text;
  } catch (const Expected& e) {
    EXPECT_EQ(e.what(), text);
  }
}

}  // namespace

TEST(DurationArithmetic, LimitsThrowWithRclcppTexts) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const auto max = rclcpp::Duration::from_nanoseconds(kMax);
  const auto lowest = rclcpp::Duration::from_nanoseconds(-kMax);
  const auto two = rclcpp::Duration::from_nanoseconds(2);
  const auto minus_two = rclcpp::Duration::from_nanoseconds(-2);

  expect_throw_text<std::underflow_error>([&] { (void)(lowest + minus_two); },
                                          "addition leads to int64_t underflow");
  expect_throw_text<std::overflow_error>([&] { (void)(max - minus_two); },
                                         "duration subtraction leads to int64_t overflow");
  expect_throw_text<std::underflow_error>([&] { (void)(lowest - two); },
                                          "duration subtraction leads to int64_t underflow");
  expect_throw_text<std::overflow_error>([&] { (void)(max * 2.0); },
                                         "duration scaling leads to int64_t overflow");
  expect_throw_text<std::underflow_error>([&] { (void)(max * -2.0); },
                                          "duration scaling leads to int64_t underflow");
  expect_throw_text<std::runtime_error>(
      [&] { (void)(two * std::numeric_limits<double>::quiet_NaN()); },
      "abnormal scale in rclcpp::Duration");
  expect_throw_text<std::runtime_error>(
      [&] { (void)(two * std::numeric_limits<double>::infinity()); },
      "abnormal scale in rclcpp::Duration");

  // Right at the limits nothing throws.
  EXPECT_EQ((max + minus_two + two).nanoseconds(), kMax);
  EXPECT_EQ((lowest - minus_two - two).nanoseconds(), -kMax);

  // Ordinary arithmetic: a negative second plus a positive fraction, scaling, compound forms.
  EXPECT_EQ(rclcpp::Duration(-1, 500000000).nanoseconds(), -500000000LL);
  EXPECT_EQ((rclcpp::Duration(1, 0) * -0.5).nanoseconds(), -500000000LL);
  rclcpp::Duration d(2, 0);
  d -= rclcpp::Duration(0, 500000000);
  d *= 2.0;
  EXPECT_EQ(d.nanoseconds(), 3000000000LL);
  EXPECT_TRUE(rclcpp::Duration(0, 1) > rclcpp::Duration(0, 0));
  EXPECT_TRUE(rclcpp::Duration(-1, 0) < rclcpp::Duration(0, 0));
  EXPECT_EQ(rclcpp::Duration::max().nanoseconds(), 2147483647999999999LL);
}

TEST(TimeArithmetic, LimitsClockTypesAndCompoundForms) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const auto one = rclcpp::Duration::from_nanoseconds(1);
  const auto minus_one = rclcpp::Duration::from_nanoseconds(-1);

  expect_throw_text<std::underflow_error>(
      [&] { (void)(rclcpp::Time(kMin, RCL_ROS_TIME) + minus_one); },
      "addition leads to int64_t underflow");
  expect_throw_text<std::overflow_error>(
      [&] { (void)(rclcpp::Time(kMax, RCL_ROS_TIME) - minus_one); },
      "time subtraction leads to int64_t overflow");
  expect_throw_text<std::underflow_error>([&] { (void)(rclcpp::Time(kMin, RCL_ROS_TIME) - one); },
                                          "time subtraction leads to int64_t underflow");
  expect_throw_text<std::overflow_error>(
      [&] { (void)(rclcpp::Time(kMax, RCL_ROS_TIME) - rclcpp::Time(int64_t{-1}, RCL_ROS_TIME)); },
      "time subtraction leads to int64_t overflow");
  expect_throw_text<std::underflow_error>(
      [&] { (void)(rclcpp::Time(kMin, RCL_ROS_TIME) - rclcpp::Time(int64_t{1}, RCL_ROS_TIME)); },
      "time subtraction leads to int64_t underflow");
  {
    rclcpp::Time t(kMax, RCL_ROS_TIME);
    EXPECT_THROW(t += one, std::overflow_error);
    EXPECT_EQ(t.nanoseconds(), kMax) << "a failed += leaves the time as it was";
  }

  // The result keeps the clock type of the time, also when the duration comes first.
  const rclcpp::Time ros(5, 0, RCL_ROS_TIME);
  EXPECT_EQ((ros + one).get_clock_type(), RCL_ROS_TIME);
  EXPECT_EQ((one + ros).get_clock_type(), RCL_ROS_TIME);
  EXPECT_EQ((one + ros).nanoseconds(), 5000000001LL);
  EXPECT_EQ((ros - rclcpp::Duration(2, 0)).get_clock_type(), RCL_ROS_TIME);
  EXPECT_EQ((ros - rclcpp::Duration(2, 0)).nanoseconds(), 3000000000LL);
  rclcpp::Time moved = ros;
  moved += rclcpp::Duration(-1, 0);
  moved -= rclcpp::Duration(0, 250000000);
  EXPECT_EQ(moved.nanoseconds(), 3750000000LL);

  // Every comparison of times of different clock types throws.
  const rclcpp::Time steady(5, 0, RCL_STEADY_TIME);
  expect_throw_text<std::runtime_error>([&] { (void)(ros == steady); },
                                        "can't compare times with different time sources");
  EXPECT_THROW((void)(ros != steady), std::runtime_error);
  EXPECT_THROW((void)(ros <= steady), std::runtime_error);
  EXPECT_THROW((void)(ros >= steady), std::runtime_error);
  EXPECT_THROW((void)(ros > steady), std::runtime_error);
  EXPECT_TRUE(ros == rclcpp::Time(5000000000LL, RCL_ROS_TIME));
  EXPECT_TRUE(ros >= rclcpp::Time(5, 0, RCL_ROS_TIME));
  EXPECT_FALSE(ros > rclcpp::Time(5, 0, RCL_ROS_TIME));
}
