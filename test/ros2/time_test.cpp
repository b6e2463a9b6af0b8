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
