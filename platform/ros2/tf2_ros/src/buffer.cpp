#include "tf2_ros/buffer.h"

#include <chrono>

#include "rclcpp/logging.hpp"

namespace tf2_ros {

Buffer::Buffer(rclcpp::Clock::SharedPtr clock, tf2::Duration cache_time,
               rclcpp::Node::SharedPtr node)
    : tf2::BufferCore(cache_time),
      clock_(std::move(clock)),
      context_(node != nullptr ? node->get_node_base_interface()->get_context()
                               : rclcpp::contexts::get_global_default_context()),
      data_signal_(std::make_shared<DataSignal>()) {
  if (clock_ == nullptr) {
    throw std::invalid_argument("tf2_ros::Buffer needs a clock");
  }
  std::weak_ptr<DataSignal> weak_signal = data_signal_;
  shutdown_handle_ = context_->add_on_shutdown_callback([weak_signal] {
    if (auto signal = weak_signal.lock()) {
      {
        std::lock_guard<std::mutex> lock(signal->mutex);
        ++signal->generation;
      }
      signal->changed.notify_all();
    }
  });
}

Buffer::~Buffer() {
  context_->remove_on_shutdown_callback(shutdown_handle_);
}

void Buffer::onTransformsChanged() {
  {
    std::lock_guard<std::mutex> lock(data_signal_->mutex);
    ++data_signal_->generation;
  }
  data_signal_->changed.notify_all();
}

bool Buffer::checkAndErrorDedicatedThreadPresent(std::string* errstr) const {
  if (isUsingDedicatedThread()) {
    return true;
  }
  const char* text =
      "Do not call canTransform or lookupTransform with a timeout unless you are using another "
      "thread for populating data. Without a dedicated thread it will always timeout.  If you "
      "have a seperate thread servicing tf messages, call setUsingDedicatedThread(true) on your "
      "Buffer instance.";
  if (errstr != nullptr) {
    *errstr = text;
  }
  RCLCPP_ERROR(rclcpp::get_logger("tf2_buffer"), "%s", text);
  return false;
}

bool Buffer::canTransform(const std::string& target_frame, const std::string& source_frame,
                          const tf2::TimePoint& time, const tf2::Duration timeout,
                          std::string* errstr) const {
  if (timeout <= tf2::Duration::zero()) {
    return tf2::BufferCore::canTransform(target_frame, source_frame, time, errstr);
  }
  if (!checkAndErrorDedicatedThreadPresent(errstr)) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    std::uint64_t seen = 0;
    {
      std::lock_guard<std::mutex> lock(data_signal_->mutex);
      seen = data_signal_->generation;
    }
    if (tf2::BufferCore::canTransform(target_frame, source_frame, time, errstr)) {
      return true;
    }
    if (!context_->is_valid()) {
      return false;
    }
    std::unique_lock<std::mutex> lock(data_signal_->mutex);
    if (!data_signal_->changed.wait_until(lock, deadline,
                                          [&] { return data_signal_->generation != seen; })) {
      lock.unlock();
      return tf2::BufferCore::canTransform(target_frame, source_frame, time, errstr);
    }
  }
}

bool Buffer::canTransform(const std::string& target_frame, const std::string& source_frame,
                          const rclcpp::Time& time, const rclcpp::Duration timeout,
                          std::string* errstr) const {
  return canTransform(target_frame, source_frame, tf2::TimePoint(tf2::Duration(time.nanoseconds())),
                      tf2::Duration(timeout.nanoseconds()), errstr);
}

geometry_msgs::msg::TransformStamped Buffer::lookupTransform(const std::string& target_frame,
                                                             const std::string& source_frame,
                                                             const tf2::TimePoint& time,
                                                             const tf2::Duration timeout) const {
  // Wait for the data, then let the core report the precise fault if it is still missing.
  canTransform(target_frame, source_frame, time, timeout);
  return tf2::BufferCore::lookupTransform(target_frame, source_frame, time);
}

geometry_msgs::msg::TransformStamped Buffer::lookupTransform(const std::string& target_frame,
                                                             const std::string& source_frame,
                                                             const rclcpp::Time& time,
                                                             const rclcpp::Duration timeout) const {
  return lookupTransform(target_frame, source_frame,
                         tf2::TimePoint(tf2::Duration(time.nanoseconds())),
                         tf2::Duration(timeout.nanoseconds()));
}

void Buffer::setCreateTimerInterface(CreateTimerInterface::SharedPtr create_timer_interface) {
  timer_interface_ = std::move(create_timer_interface);
}

}  // namespace tf2_ros
