// A publisher that only publishes while its node is active.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

#include "rclcpp/logging.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp_lifecycle/managed_entity.hpp"

namespace rclcpp_lifecycle {

using LifecyclePublisherInterface = SimpleManagedEntity;

// Its `publish` hides rclcpp::Publisher's: while inactive the message is dropped and a
// warning is logged once per deactivation. Called through an rclcpp::Publisher pointer, the
// base publish runs and the lifecycle state is not consulted, as in rclcpp.
template <typename MessageT, typename Alloc = std::allocator<void>>
class LifecyclePublisher : public SimpleManagedEntity, public rclcpp::Publisher<MessageT, Alloc> {
 public:
  using SharedPtr = std::shared_ptr<LifecyclePublisher>;

  LifecyclePublisher(rclcpp::Context::SharedPtr context, const ros2_core::TopicEndpoint& endpoint,
                     const rclcpp::Logger& logger)
      : rclcpp::Publisher<MessageT, Alloc>(std::move(context), endpoint), logger_(logger) {}

  virtual void publish(std::unique_ptr<MessageT> msg) {
    if (!this->is_activated()) {
      log_publisher_not_enabled();
      return;
    }
    rclcpp::Publisher<MessageT, Alloc>::publish(std::move(msg));
  }

  virtual void publish(const MessageT& msg) {
    if (!this->is_activated()) {
      log_publisher_not_enabled();
      return;
    }
    rclcpp::Publisher<MessageT, Alloc>::publish(msg);
  }

  void on_activate() override { SimpleManagedEntity::on_activate(); }
  void on_deactivate() override {
    SimpleManagedEntity::on_deactivate();
    should_log_.store(true);
  }

 private:
  void log_publisher_not_enabled() {
    if (!should_log_.exchange(false)) {
      return;
    }
    RCLCPP_WARN(logger_,
                "Trying to publish message on the topic '%s', but the publisher is not activated",
                this->get_topic_name());
  }

  const rclcpp::Logger logger_;
  std::atomic<bool> should_log_{true};
};

}  // namespace rclcpp_lifecycle
