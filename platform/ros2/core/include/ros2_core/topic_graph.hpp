// Routing of messages between the publishers and subscriptions of one process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "ros2_core/message_sink.hpp"
#include "ros2_core/qos_profile.hpp"
#include "ros2_core/transport.hpp"

namespace ros2_core {

// The topic graph of one context. Publishers and subscriptions register here with their
// topic, type and QoS; a publication reaches every subscription of the same topic and type
// whose QoS the publisher can serve, as one shared pointer (no copy). A transient-local
// publisher keeps its last `depth` messages and hands them to transient-local subscriptions
// that join later. The optional Transport carries publications to and from other processes;
// local subscriptions are served here without it (one shared pointer, no serialisation).
//
// Thread-safe. Sinks are called with no graph lock held, except the history hand-over to a
// joining subscription, which happens under the lock so that no message is seen twice or
// missed; sinks therefore must never call back into the graph.
class TopicGraph {
 public:
  using EndpointId = ros2_core::EndpointId;
  using WarningHandler = std::function<void(const std::string&)>;

  explicit TopicGraph(WarningHandler warn = {});

  EndpointId add_publisher(const TopicEndpoint& endpoint);
  EndpointId add_subscription(const TopicEndpoint& endpoint, std::shared_ptr<MessageSink> sink);
  void remove_publisher(EndpointId id);
  void remove_subscription(EndpointId id);

  // Routes `message` from publisher `id` to the matching subscriptions and the transport.
  // Returns false when the transport refused it (local delivery has happened anyway) or the
  // publisher is unknown.
  bool publish(EndpointId id, const std::shared_ptr<const void>& message);

  // Nodes of this process, announced to the transport for the graph other processes see.
  void add_node(const std::string& node_namespace, const std::string& node_name);
  void remove_node(const std::string& node_namespace, const std::string& node_name);

  // Matched endpoints on the other side of `id`, in this process and beyond it.
  std::size_t subscription_count(EndpointId publisher) const;
  std::size_t publisher_count(EndpointId subscription) const;

  // Installs (or with nullptr removes) the transport. A new transport is told about every
  // node and endpoint that exists already.
  void set_transport(std::shared_ptr<Transport> transport);
  std::shared_ptr<Transport> transport() const;

 private:
  struct Publisher {
    TopicEndpoint endpoint;
    std::deque<std::shared_ptr<const void>> history;  // transient local only
  };
  struct Subscription {
    TopicEndpoint endpoint;
    std::shared_ptr<MessageSink> sink;
  };

  bool matches(const TopicEndpoint& publisher, const TopicEndpoint& subscription) const;
  void warn_incompatible(const TopicEndpoint& publisher, const TopicEndpoint& subscription,
                         const std::string& policy) const;

  const WarningHandler warn_;
  mutable std::mutex mutex_;
  EndpointId next_id_{1};                                     // guarded by mutex_
  std::map<EndpointId, Publisher> publishers_;                // guarded by mutex_
  std::map<EndpointId, Subscription> subscriptions_;          // guarded by mutex_
  std::multiset<std::pair<std::string, std::string>> nodes_;  // guarded by mutex_
  std::shared_ptr<Transport> transport_;                      // guarded by mutex_
};

}  // namespace ros2_core
