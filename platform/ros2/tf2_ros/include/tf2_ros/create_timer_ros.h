// Timers for tf2_ros::Buffer on a node's timer interface.
#pragma once

#include <map>
#include <mutex>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/node_interfaces/node_timers_interface.hpp"
#include "rclcpp/timer.hpp"
#include "tf2_ros/create_timer_interface.h"

namespace tf2_ros {

// Creates rclcpp timers in `callback_group` (the node's default group when null) and keeps
// them by handle until removed. Thread-safe.
class CreateTimerROS : public CreateTimerInterface {
 public:
  CreateTimerROS(rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_base,
                 rclcpp::node_interfaces::NodeTimersInterface::SharedPtr node_timers,
                 rclcpp::CallbackGroup::SharedPtr callback_group = nullptr);
  ~CreateTimerROS() override;

  TimerHandle createTimer(rclcpp::Clock::SharedPtr clock, const tf2::Duration& period,
                          TimerCallbackType callback) override;
  // Throw InvalidTimerHandleException for an unknown handle.
  void cancel(const TimerHandle& timer_handle) override;
  void reset(const TimerHandle& timer_handle) override;
  void remove(const TimerHandle& timer_handle) override;

 private:
  rclcpp::TimerBase::SharedPtr find(const TimerHandle& timer_handle);

  rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_base_;
  rclcpp::node_interfaces::NodeTimersInterface::SharedPtr node_timers_;
  rclcpp::CallbackGroup::SharedPtr callback_group_;
  std::mutex timers_map_mutex_;
  TimerHandle next_timer_handle_index_{0};                          // guarded by timers_map_mutex_
  std::map<TimerHandle, rclcpp::TimerBase::SharedPtr> timers_map_;  // guarded by timers_map_mutex_
};

}  // namespace tf2_ros
