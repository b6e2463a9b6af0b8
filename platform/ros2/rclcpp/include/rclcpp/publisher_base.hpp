// The type-independent part of a publisher.
#pragma once

#include <cstddef>
#include <memory>

#include "rclcpp/context.hpp"
#include "rclcpp/qos.hpp"
#include "ros2_core/topic_graph.hpp"

namespace rclcpp {

// Registered with the context's topic graph for its lifetime. Publishing after the context
// was shut down does nothing, as in rclcpp; any other failure throws
// exceptions::RCLError "failed to publish message: ...".
class PublisherBase {
 public:
  using SharedPtr = std::shared_ptr<PublisherBase>;

  PublisherBase(Context::SharedPtr context, const ros2_core::TopicEndpoint& endpoint);
  virtual ~PublisherBase();
  PublisherBase(const PublisherBase&) = delete;
  PublisherBase& operator=(const PublisherBase&) = delete;

  const char* get_topic_name() const { return endpoint_.topic.c_str(); }
  size_t get_subscription_count() const;
  size_t get_intra_process_subscription_count() const { return get_subscription_count(); }
  rclcpp::QoS get_actual_qos() const;

 protected:
  void publish_shared(const std::shared_ptr<const void>& message);

 private:
  const Context::SharedPtr context_;
  const std::shared_ptr<ros2_core::TopicGraph> graph_;
  const ros2_core::TopicEndpoint endpoint_;
  ros2_core::TopicGraph::EndpointId id_{0};
};

}  // namespace rclcpp
