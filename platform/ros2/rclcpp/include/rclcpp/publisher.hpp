// A typed publisher.
#pragma once

#include <memory>
#include <utility>

#include "rclcpp/publisher_base.hpp"
#include "rclcpp/publisher_options.hpp"

namespace rclcpp {

// `publish` is deliberately non-virtual, as in rclcpp: a derived publisher that hides it
// (the lifecycle publisher) is bypassed when called through a Publisher pointer.
// A published message is shared, not copied, between all subscriptions of the process.
template <typename MessageT, typename AllocatorT = std::allocator<void>>
class Publisher : public PublisherBase {
 public:
  using SharedPtr = std::shared_ptr<Publisher>;
  using ConstSharedPtr = std::shared_ptr<const Publisher>;
  using ROSMessageType = MessageT;

  Publisher(Context::SharedPtr context, const ros2_core::TopicEndpoint& endpoint)
      : PublisherBase(std::move(context), endpoint) {}

  void publish(std::unique_ptr<MessageT> msg) {
    publish_shared(std::shared_ptr<const MessageT>(std::move(msg)));
  }

  void publish(const MessageT& msg) { publish_shared(std::make_shared<const MessageT>(msg)); }
};

}  // namespace rclcpp
