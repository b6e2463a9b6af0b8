// How a tf2_ros::Buffer creates timers, independent of the node type.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "rclcpp/clock.hpp"
#include "tf2/time.h"

namespace tf2_ros {

using TimerHandle = uint64_t;
using TimerCallbackType = std::function<void(const TimerHandle&)>;

class CreateTimerInterfaceException : public std::runtime_error {
 public:
  explicit CreateTimerInterfaceException(const std::string& errorDescription)
      : std::runtime_error(errorDescription) {}
};

class InvalidTimerHandleException : public std::runtime_error {
 public:
  explicit InvalidTimerHandleException(const std::string& description)
      : std::runtime_error(description) {}
};

class CreateTimerInterface {
 public:
  using SharedPtr = std::shared_ptr<CreateTimerInterface>;
  using ConstSharedPtr = std::shared_ptr<const CreateTimerInterface>;
  using UniquePtr = std::unique_ptr<CreateTimerInterface>;

  virtual ~CreateTimerInterface() = default;
  virtual TimerHandle createTimer(rclcpp::Clock::SharedPtr clock, const tf2::Duration& period,
                                  TimerCallbackType callback) = 0;
  virtual void cancel(const TimerHandle& timer_handle) = 0;
  virtual void reset(const TimerHandle& timer_handle) = 0;
  virtual void remove(const TimerHandle& timer_handle) = 0;
};

}  // namespace tf2_ros
