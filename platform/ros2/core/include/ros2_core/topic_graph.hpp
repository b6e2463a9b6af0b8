// Routing of messages between the publishers and subscriptions of one process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ros2_core/message_sink.hpp"
#include "ros2_core/qos_profile.hpp"
#include "ros2_core/transport.hpp"

namespace ros2_core {

// The topic graph of one context. Publishers and subscriptions register here with their
// topic, type and QoS; a publication reaches every subscription of the same topic and type
// whose QoS the publisher can serve, as one shared pointer (no copy). A transient-local
// publisher keeps its last `depth` messages and hands them to transient-local subscriptions
// that join later. The optional Transport sees every publication.
//
// Thread-safe. Sinks are called with no graph lock held, except the history hand-over to a
// joining subscription, which happens under the lock so that no message is seen twice or
// missed; sinks therefore must never call back into the graph.
class TopicGraph {
 public:
  using EndpointId = std::uint64_t;
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

  // Entry point for messages that arrive from another process: delivered to the local
  // subscriptions of `topic` and `type` only.
  void deliver_from_transport(const std::string& topic, const std::string& type,
                              const std::shared_ptr<const void>& message);

  // Matched endpoints on the other side of `id`.
  std::size_t subscription_count(EndpointId publisher) const;
  std::size_t publisher_count(EndpointId subscription) const;

  void set_transport(std::shared_ptr<Transport> transport);

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
  EndpointId next_id_{1};                             // guarded by mutex_
  std::map<EndpointId, Publisher> publishers_;        // guarded by mutex_
  std::map<EndpointId, Subscription> subscriptions_;  // guarded by mutex_
  std::shared_ptr<Transport> transport_;              // guarded by mutex_
};

}  // namespace ros2_core
