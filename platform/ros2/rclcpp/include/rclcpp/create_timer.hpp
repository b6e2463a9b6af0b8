// Free functions that create timers on a node's interfaces.
#pragma once

#include <memory>
#include <utility>

#include "rclcpp/clock.hpp"
#include "rclcpp/duration.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/node_interfaces/node_timers_interface.hpp"
#include "rclcpp/timer.hpp"

namespace rclcpp {

template <typename CallbackT>
typename rclcpp::TimerBase::SharedPtr create_timer(
    std::shared_ptr<node_interfaces::NodeBaseInterface> node_base,
    std::shared_ptr<node_interfaces::NodeTimersInterface> node_timers,
    rclcpp::Clock::SharedPtr clock, rclcpp::Duration period, CallbackT&& callback,
    rclcpp::CallbackGroup::SharedPtr group = nullptr) {
  (void)node_base;
  auto timer = std::make_shared<GenericTimer<std::decay_t<CallbackT>>>(
      std::move(clock), period.to_chrono<std::chrono::nanoseconds>(),
      std::decay_t<CallbackT>(std::forward<CallbackT>(callback)));
  node_timers->add_timer(timer, group);
  return timer;
}

}  // namespace rclcpp
