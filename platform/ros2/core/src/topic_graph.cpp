#include "ros2_core/topic_graph.hpp"

#include <tuple>
#include <utility>
#include <vector>

namespace ros2_core {

TopicGraph::TopicGraph(WarningHandler warn) : warn_(std::move(warn)) {}

bool TopicGraph::matches(const TopicEndpoint& publisher, const TopicEndpoint& subscription) const {
  return publisher.topic == subscription.topic && publisher.type == subscription.type &&
         incompatible_policy(publisher.qos, subscription.qos).empty();
}

void TopicGraph::warn_incompatible(const TopicEndpoint& publisher,
                                   const TopicEndpoint& subscription,
                                   const std::string& policy) const {
  if (!warn_) {
    return;
  }
  warn_("New subscription discovered on topic '" + publisher.topic +
        "', requesting incompatible QoS. No messages will be sent to it. "
        "Last incompatible policy: " +
        policy);
  warn_("New publisher discovered on topic '" + subscription.topic +
        "', offering incompatible QoS. No messages will be received from it. "
        "Last incompatible policy: " +
        policy);
}

TopicGraph::EndpointId TopicGraph::add_publisher(const TopicEndpoint& endpoint) {
  std::shared_ptr<Transport> transport;
  EndpointId id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = next_id_++;
    publishers_.emplace(id, Publisher{endpoint, {}});
    for (const auto& entry : subscriptions_) {
      const TopicEndpoint& sub = entry.second.endpoint;
      if (sub.topic == endpoint.topic && sub.type == endpoint.type) {
        const std::string policy = incompatible_policy(endpoint.qos, sub.qos);
        if (!policy.empty()) {
          warn_incompatible(endpoint, sub, policy);
        }
      }
    }
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->publisher_added(id, endpoint);
  }
  return id;
}

TopicGraph::EndpointId TopicGraph::add_subscription(const TopicEndpoint& endpoint,
                                                    std::shared_ptr<MessageSink> sink) {
  std::shared_ptr<Transport> transport;
  EndpointId id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = next_id_++;
    subscriptions_.emplace(id, Subscription{endpoint, sink});
    for (const auto& entry : publishers_) {
      const Publisher& pub = entry.second;
      if (pub.endpoint.topic != endpoint.topic || pub.endpoint.type != endpoint.type) {
        continue;
      }
      const std::string policy = incompatible_policy(pub.endpoint.qos, endpoint.qos);
      if (!policy.empty()) {
        warn_incompatible(pub.endpoint, endpoint, policy);
        continue;
      }
      // Late joining: only a transient-local subscription asks for what was sent before.
      if (endpoint.qos.durability == Durability::TransientLocal) {
        for (const auto& message : pub.history) {
          sink->deliver(message);
        }
      }
    }
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->subscription_added(id, endpoint, sink);
  }
  return id;
}

void TopicGraph::remove_publisher(EndpointId id) {
  std::shared_ptr<Transport> transport;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    publishers_.erase(id);
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->publisher_removed(id);
  }
}

void TopicGraph::remove_subscription(EndpointId id) {
  std::shared_ptr<Transport> transport;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.erase(id);
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->subscription_removed(id);
  }
}

void TopicGraph::add_node(const std::string& node_namespace, const std::string& node_name) {
  std::shared_ptr<Transport> transport;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.emplace(node_namespace, node_name);
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->node_added(node_namespace, node_name);
  }
}

void TopicGraph::remove_node(const std::string& node_namespace, const std::string& node_name) {
  std::shared_ptr<Transport> transport;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = nodes_.find({node_namespace, node_name});
    if (it == nodes_.end()) {
      return;
    }
    nodes_.erase(it);
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->node_removed(node_namespace, node_name);
  }
}

bool TopicGraph::publish(EndpointId id, const std::shared_ptr<const void>& message) {
  std::vector<std::shared_ptr<MessageSink>> receivers;
  std::shared_ptr<Transport> transport;
  TopicEndpoint endpoint;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = publishers_.find(id);
    if (it == publishers_.end()) {
      return false;
    }
    Publisher& pub = it->second;
    endpoint = pub.endpoint;
    if (endpoint.qos.durability == Durability::TransientLocal) {
      const std::size_t limit = queue_limit(endpoint.qos);
      pub.history.push_back(message);
      while (limit != 0 && pub.history.size() > limit) {
        pub.history.pop_front();
      }
    }
    for (const auto& entry : subscriptions_) {
      if (matches(endpoint, entry.second.endpoint)) {
        receivers.push_back(entry.second.sink);
      }
    }
    transport = transport_;
  }
  for (const auto& sink : receivers) {
    sink->deliver(message);
  }
  if (transport != nullptr) {
    return transport->publish(id, message);
  }
  return true;
}

std::size_t TopicGraph::subscription_count(EndpointId publisher) const {
  std::size_t count = 0;
  std::shared_ptr<Transport> transport;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = publishers_.find(publisher);
    if (it == publishers_.end()) {
      return 0;
    }
    for (const auto& entry : subscriptions_) {
      count += matches(it->second.endpoint, entry.second.endpoint) ? 1 : 0;
    }
    transport = transport_;
  }
  return count + (transport != nullptr ? transport->remote_subscription_count(publisher) : 0);
}

std::size_t TopicGraph::publisher_count(EndpointId subscription) const {
  std::size_t count = 0;
  std::shared_ptr<Transport> transport;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = subscriptions_.find(subscription);
    if (it == subscriptions_.end()) {
      return 0;
    }
    for (const auto& entry : publishers_) {
      count += matches(entry.second.endpoint, it->second.endpoint) ? 1 : 0;
    }
    transport = transport_;
  }
  return count + (transport != nullptr ? transport->remote_publisher_count(subscription) : 0);
}

void TopicGraph::set_transport(std::shared_ptr<Transport> transport) {
  std::vector<std::pair<std::string, std::string>> nodes;
  std::vector<std::pair<EndpointId, TopicEndpoint>> publishers;
  std::vector<std::tuple<EndpointId, TopicEndpoint, std::shared_ptr<MessageSink>>> subscriptions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    transport_ = transport;
    if (transport == nullptr) {
      return;
    }
    nodes.assign(nodes_.begin(), nodes_.end());
    for (const auto& entry : publishers_) {
      publishers.emplace_back(entry.first, entry.second.endpoint);
    }
    for (const auto& entry : subscriptions_) {
      subscriptions.emplace_back(entry.first, entry.second.endpoint, entry.second.sink);
    }
  }
  // An endpoint added meanwhile may be announced twice; transports ignore a known id.
  for (const auto& node : nodes) {
    transport->node_added(node.first, node.second);
  }
  for (const auto& publisher : publishers) {
    transport->publisher_added(publisher.first, publisher.second);
  }
  for (const auto& subscription : subscriptions) {
    transport->subscription_added(std::get<0>(subscription), std::get<1>(subscription),
                                  std::get<2>(subscription));
  }
}

std::shared_ptr<Transport> TopicGraph::transport() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transport_;
}

}  // namespace ros2_core
