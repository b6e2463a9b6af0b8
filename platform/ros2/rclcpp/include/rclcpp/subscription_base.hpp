// The type-independent part of a subscription.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/executable.hpp"
#include "rclcpp/qos.hpp"
#include "ros2_core/keep_last_queue.hpp"
#include "ros2_core/topic_graph.hpp"

namespace rclcpp {

// Registers a keep-last queue of the QoS depth with the topic graph for its lifetime; the
// graph fills the queue from publishing threads and each delivery wakes the executor of the
// subscription's callback group. Executors take messages one at a time.
class SubscriptionBase : public Executable {
 public:
  using SharedPtr = std::shared_ptr<SubscriptionBase>;

  SubscriptionBase(std::shared_ptr<ros2_core::TopicGraph> graph,
                   const ros2_core::TopicEndpoint& endpoint, CallbackGroup::SharedPtr group);
  ~SubscriptionBase() override;
  SubscriptionBase(const SubscriptionBase&) = delete;
  SubscriptionBase& operator=(const SubscriptionBase&) = delete;

  const char* get_topic_name() const { return endpoint_.topic.c_str(); }
  size_t get_publisher_count() const;
  rclcpp::QoS get_actual_qos() const;
  // Messages waiting to be executed.
  size_t queued_message_count() const { return queue_->size(); }

  bool take_ready(SteadyTime now, std::shared_ptr<const void>& work) override;

 private:
  const std::shared_ptr<ros2_core::TopicGraph> graph_;
  const ros2_core::TopicEndpoint endpoint_;
  const std::shared_ptr<ros2_core::KeepLastQueue> queue_;
  ros2_core::TopicGraph::EndpointId id_{0};
};

}  // namespace rclcpp
