// Publisher wrapper that forwards only every (skip + 1)-th message.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include <rclcpp/rclcpp.hpp>

namespace lidar_perception {

// Throttles a publisher: the first message goes out, then every (skip + 1)-th one; a skip count
// below 1 forwards everything. Holds a shared reference to the publisher; not thread-safe (one
// publishing thread per wrapper).
template <typename MessageT>
class PublisherSkipFrame {
 public:
  PublisherSkipFrame(std::shared_ptr<rclcpp::Publisher<MessageT>> publisher, int32_t skip)
      : publisher_(std::move(publisher)), skip_(skip), frame_counter_(skip) {}
  virtual ~PublisherSkipFrame() = default;

  // Forwards or drops `message`; publication errors of the client library propagate.
  void publish(const MessageT& message) {
    ++frame_counter_;
    if (skip_ < 1 || frame_counter_ > skip_) {
      frame_counter_ = 0;
      publisher_->publish(message);
    }
  }

 private:
  std::shared_ptr<rclcpp::Publisher<MessageT>> publisher_;
  int32_t skip_;
  int32_t frame_counter_;
};

}  // namespace lidar_perception
