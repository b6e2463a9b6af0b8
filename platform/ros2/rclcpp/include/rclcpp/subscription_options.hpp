// Options of publishers and subscriptions.
#pragma once

#include <memory>

#include "rclcpp/callback_group.hpp"

namespace rclcpp {

enum class IntraProcessSetting { Enable, Disable, NodeDefault };

struct SubscriptionOptionsBase {
  // Group the subscription's callback runs in; the node's default group when empty.
  CallbackGroup::SharedPtr callback_group = nullptr;
  // Messages always travel within the process here; kept for source compatibility.
  IntraProcessSetting use_intra_process_comm = IntraProcessSetting::NodeDefault;
  bool ignore_local_publications = false;
};

template <typename Allocator = std::allocator<void>>
struct SubscriptionOptionsWithAllocator : public SubscriptionOptionsBase {
  std::shared_ptr<Allocator> allocator = nullptr;
  SubscriptionOptionsWithAllocator() = default;
  explicit SubscriptionOptionsWithAllocator(const SubscriptionOptionsBase& base)
      : SubscriptionOptionsBase(base) {}
};

using SubscriptionOptions = SubscriptionOptionsWithAllocator<std::allocator<void>>;

struct PublisherOptionsBase {
  CallbackGroup::SharedPtr callback_group = nullptr;
  IntraProcessSetting use_intra_process_comm = IntraProcessSetting::NodeDefault;
};

template <typename Allocator = std::allocator<void>>
struct PublisherOptionsWithAllocator : public PublisherOptionsBase {
  std::shared_ptr<Allocator> allocator = nullptr;
  PublisherOptionsWithAllocator() = default;
  explicit PublisherOptionsWithAllocator(const PublisherOptionsBase& base)
      : PublisherOptionsBase(base) {}
};

using PublisherOptions = PublisherOptionsWithAllocator<std::allocator<void>>;

}  // namespace rclcpp
