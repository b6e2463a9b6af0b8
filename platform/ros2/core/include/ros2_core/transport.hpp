// The seam where messages leave and enter the process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <rosidl_runtime_c/message_type_support_struct.h>

#include "ros2_core/message_sink.hpp"
#include "ros2_core/qos_profile.hpp"

namespace ros2_core {

using EndpointId = std::uint64_t;

// One publisher or subscription as the graph knows it. `type` is the message type's name
// as rosidl spells it ("sensor_msgs/msg/PointCloud2"); `type_support` is its C++
// introspection type support, which a transport needs to put the message on the wire (null
// for endpoints that never leave the process). The node fields name the node that owns it.
struct TopicEndpoint {
  std::string topic;
  std::string type;
  QosProfile qos;
  const rosidl_message_type_support_t* type_support{nullptr};
  std::string node_name;
  std::string node_namespace;
};

// An inter-process transport plugs in here. The graph announces the nodes and endpoints of
// this process and hands it every message published here; the transport delivers messages
// from other processes straight to the sink of the subscription they are meant for. Calls
// come from any thread, never with a graph lock held.
class Transport {
 public:
  virtual ~Transport() = default;
  virtual void node_added(const std::string& node_namespace, const std::string& node_name) = 0;
  virtual void node_removed(const std::string& node_namespace, const std::string& node_name) = 0;
  virtual void publisher_added(EndpointId id, const TopicEndpoint& endpoint) = 0;
  virtual void publisher_removed(EndpointId id) = 0;
  virtual void subscription_added(EndpointId id, const TopicEndpoint& endpoint,
                                  std::shared_ptr<MessageSink> sink) = 0;
  virtual void subscription_removed(EndpointId id) = 0;
  // Returns false when the message could not be sent; the publisher reports that as an error.
  virtual bool publish(EndpointId publisher, const std::shared_ptr<const void>& message) = 0;
  // Remote subscriptions matched with a local publisher and remote publishers matched with a
  // local subscription.
  virtual std::size_t remote_subscription_count(EndpointId publisher) const = 0;
  virtual std::size_t remote_publisher_count(EndpointId subscription) const = 0;
};

}  // namespace ros2_core
