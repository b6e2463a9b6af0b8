// A typed subscription.
#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "rclcpp/subscription_base.hpp"
#include "rclcpp/subscription_options.hpp"

namespace rclcpp {
namespace detail {

// Adapts the callback shapes rclcpp accepts to one taking the shared message: by
// shared pointer to const and by const reference without a copy; by mutable shared or
// unique pointer with a copy, since the message is shared with other subscriptions.
template <typename MessageT, typename CallbackT>
std::function<void(const std::shared_ptr<const MessageT>&)> adapt_subscription_callback(
    CallbackT&& callback) {
  using Callback = std::decay_t<CallbackT>;
  if constexpr (std::is_invocable<Callback&, std::shared_ptr<const MessageT>>::value) {
    return [cb = Callback(std::forward<CallbackT>(callback))](
               const std::shared_ptr<const MessageT>& msg) mutable { cb(msg); };
  } else if constexpr (std::is_invocable<Callback&, const MessageT&>::value) {
    return [cb = Callback(std::forward<CallbackT>(callback))](
               const std::shared_ptr<const MessageT>& msg) mutable { cb(*msg); };
  } else if constexpr (std::is_invocable<Callback&, std::shared_ptr<MessageT>>::value) {
    return [cb = Callback(std::forward<CallbackT>(callback))](
               const std::shared_ptr<const MessageT>& msg) mutable {
      cb(std::make_shared<MessageT>(*msg));
    };
  } else {
    static_assert(std::is_invocable<Callback&, std::unique_ptr<MessageT>>::value,
                  "subscription callback must take the message by shared_ptr<const M>, "
                  "const M&, shared_ptr<M> or unique_ptr<M>");
    return [cb = Callback(std::forward<CallbackT>(callback))](
               const std::shared_ptr<const MessageT>& msg) mutable {
      cb(std::make_unique<MessageT>(*msg));
    };
  }
}

}  // namespace detail

template <typename MessageT, typename AllocatorT = std::allocator<void>>
class Subscription : public SubscriptionBase {
 public:
  using SharedPtr = std::shared_ptr<Subscription>;
  using ConstSharedPtr = std::shared_ptr<const Subscription>;
  using MessageSharedPtr = std::shared_ptr<const MessageT>;
  using Callback = std::function<void(const MessageSharedPtr&)>;

  Subscription(std::shared_ptr<ros2_core::TopicGraph> graph,
               const ros2_core::TopicEndpoint& endpoint, CallbackGroup::SharedPtr group,
               Callback callback)
      : SubscriptionBase(std::move(graph), endpoint, std::move(group)),
        callback_(std::move(callback)) {}

  void execute(const std::shared_ptr<const void>& work) override {
    callback_(std::static_pointer_cast<const MessageT>(work));
  }

 private:
  const Callback callback_;
};

}  // namespace rclcpp
