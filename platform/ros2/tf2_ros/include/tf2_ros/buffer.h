// tf2_ros::Buffer: the tf2 buffer core with ROS time types and lookups that wait.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "rclcpp/clock.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/duration.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/time.hpp"
#include "tf2/buffer_core.h"
#include "tf2_ros/buffer_interface.h"
#include "tf2_ros/create_timer_interface.h"

namespace tf2_ros {

// A lookup with a timeout waits (without polling) until the transform can be computed, the
// timeout passes or the default context shuts down, then performs the lookup, so a late
// transform is returned and a missing one throws tf2's exception for the actual fault.
// Waiting needs another thread that fills the buffer (a TransformListener sets
// setUsingDedicatedThread); without one, a timed lookup logs tf2_ros's error and does not
// wait. Thread-safe.
class Buffer : public BufferInterface, public tf2::BufferCore {
 public:
  using SharedPtr = std::shared_ptr<Buffer>;
  using tf2::BufferCore::canTransform;
  using tf2::BufferCore::lookupTransform;

  Buffer(rclcpp::Clock::SharedPtr clock,
         tf2::Duration cache_time = tf2::Duration(tf2::BUFFER_CORE_DEFAULT_CACHE_TIME),
         rclcpp::Node::SharedPtr node = rclcpp::Node::SharedPtr());
  ~Buffer() override;

  geometry_msgs::msg::TransformStamped lookupTransform(const std::string& target_frame,
                                                       const std::string& source_frame,
                                                       const tf2::TimePoint& time,
                                                       const tf2::Duration timeout) const override;
  geometry_msgs::msg::TransformStamped lookupTransform(
      const std::string& target_frame, const std::string& source_frame, const rclcpp::Time& time,
      const rclcpp::Duration timeout = rclcpp::Duration::from_nanoseconds(0)) const;

  bool canTransform(const std::string& target_frame, const std::string& source_frame,
                    const tf2::TimePoint& time, const tf2::Duration timeout,
                    std::string* errstr = nullptr) const override;
  bool canTransform(const std::string& target_frame, const std::string& source_frame,
                    const rclcpp::Time& time,
                    const rclcpp::Duration timeout = rclcpp::Duration::from_nanoseconds(0),
                    std::string* errstr = nullptr) const;

  void setCreateTimerInterface(CreateTimerInterface::SharedPtr create_timer_interface);

 protected:
  void onTransformsChanged() override;

 private:
  bool checkAndErrorDedicatedThreadPresent(std::string* errstr) const;

  // Shared with the context's shutdown callback, which may outlive the buffer briefly.
  struct DataSignal {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t generation{0};  // guarded by mutex
  };

  rclcpp::Clock::SharedPtr clock_;
  CreateTimerInterface::SharedPtr timer_interface_;
  const rclcpp::Context::SharedPtr context_;
  rclcpp::OnShutdownCallbackHandle shutdown_handle_;
  const std::shared_ptr<DataSignal> data_signal_;
};

}  // namespace tf2_ros
