#include "ros2_core/service_graph.hpp"

#include <random>
#include <utility>

namespace ros2_core {
namespace {

std::uint64_t random_prefix() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

Guid make_guid(std::uint64_t prefix, std::uint64_t id) {
  Guid guid{};
  for (std::size_t i = 0; i < 8; ++i) {
    guid[i] = static_cast<std::uint8_t>(prefix >> (56 - 8 * i));
    guid[8 + i] = static_cast<std::uint8_t>(id >> (56 - 8 * i));
  }
  return guid;
}

}  // namespace

ServiceGraph::ServiceGraph()
    : changes_(std::make_shared<GuardCondition>()), guid_prefix_(random_prefix()) {}

ServiceGraph::EndpointId ServiceGraph::add_server(const ServiceEndpoint& endpoint,
                                                  std::shared_ptr<ServiceSink> requests) {
  std::shared_ptr<ServiceTransport> transport;
  EndpointId id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = next_id_++;
    servers_.emplace(id, Endpoint{endpoint, std::move(requests), {}});
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->server_added(endpoint);
  }
  changes_->trigger();
  return id;
}

ServiceGraph::EndpointId ServiceGraph::add_client(const ServiceEndpoint& endpoint,
                                                  std::shared_ptr<ServiceSink> replies) {
  std::shared_ptr<ServiceTransport> transport;
  EndpointId id = 0;
  Guid guid{};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = next_id_++;
    guid = make_guid(guid_prefix_, id);
    clients_.emplace(id, Endpoint{endpoint, std::move(replies), guid});
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->client_added(endpoint, guid);
  }
  return id;
}

void ServiceGraph::remove_server(EndpointId id) {
  std::shared_ptr<ServiceTransport> transport;
  ServiceEndpoint endpoint;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = servers_.find(id);
    if (it == servers_.end()) {
      return;
    }
    endpoint = it->second.endpoint;
    servers_.erase(it);
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->server_removed(endpoint);
  }
  changes_->trigger();
}

void ServiceGraph::remove_client(EndpointId id) {
  std::shared_ptr<ServiceTransport> transport;
  Endpoint removed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clients_.find(id);
    if (it == clients_.end()) {
      return;
    }
    removed = std::move(it->second);
    clients_.erase(it);
    transport = transport_;
  }
  if (transport != nullptr) {
    transport->client_removed(removed.endpoint, removed.guid);
  }
}

Guid ServiceGraph::client_guid(EndpointId client) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = clients_.find(client);
  return it == clients_.end() ? Guid{} : it->second.guid;
}

std::shared_ptr<ServiceSink> ServiceGraph::local_server(const std::string& service,
                                                        const std::string& type) const {
  // The map is ordered by id, so the oldest server answers; a second server of the same name
  // only takes over when the first goes away.
  for (const auto& entry : servers_) {
    if (entry.second.endpoint.service == service && entry.second.endpoint.type == type) {
      return entry.second.sink;
    }
  }
  return nullptr;
}

std::size_t ServiceGraph::local_server_count(const std::string& service,
                                             const std::string& type) const {
  std::size_t count = 0;
  for (const auto& entry : servers_) {
    count += entry.second.endpoint.service == service && entry.second.endpoint.type == type;
  }
  return count;
}

bool ServiceGraph::send_request(EndpointId client, std::int64_t sequence_number,
                                const std::shared_ptr<const void>& request) {
  std::shared_ptr<ServiceSink> server;
  std::shared_ptr<ServiceTransport> transport;
  ServiceEndpoint endpoint;
  RequestId id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clients_.find(client);
    if (it == clients_.end()) {
      return false;
    }
    endpoint = it->second.endpoint;
    id = RequestId{it->second.guid, sequence_number};
    server = local_server(endpoint.service, endpoint.type);
    transport = transport_;
  }
  if (server != nullptr) {
    server->deliver(id, request);
    return true;
  }
  return transport != nullptr && transport->send_request(endpoint, id, request);
}

bool ServiceGraph::send_reply(EndpointId server, const RequestId& id,
                              const std::shared_ptr<const void>& reply) {
  std::shared_ptr<ServiceSink> client;
  std::shared_ptr<ServiceTransport> transport;
  ServiceEndpoint endpoint;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = servers_.find(server);
    if (it == servers_.end()) {
      return false;
    }
    endpoint = it->second.endpoint;
    for (const auto& entry : clients_) {
      if (entry.second.guid == id.writer_guid) {
        client = entry.second.sink;
        break;
      }
    }
    transport = transport_;
  }
  if (client != nullptr) {
    client->deliver(id, reply);
    return true;
  }
  return transport != nullptr && transport->send_reply(endpoint, id, reply);
}

bool ServiceGraph::deliver_request_from_transport(const std::string& service,
                                                  const std::string& type, const RequestId& id,
                                                  const std::shared_ptr<const void>& request) {
  std::shared_ptr<ServiceSink> server;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    server = local_server(service, type);
  }
  if (server == nullptr) {
    return false;
  }
  server->deliver(id, request);
  return true;
}

bool ServiceGraph::deliver_reply_from_transport(const RequestId& id,
                                                const std::shared_ptr<const void>& reply) {
  std::shared_ptr<ServiceSink> client;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : clients_) {
      if (entry.second.guid == id.writer_guid) {
        client = entry.second.sink;
        break;
      }
    }
  }
  if (client == nullptr) {
    return false;
  }
  client->deliver(id, reply);
  return true;
}

void ServiceGraph::remote_servers_changed() {
  changes_->trigger();
}

bool ServiceGraph::server_available(EndpointId client) const {
  ServiceEndpoint endpoint;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clients_.find(client);
    if (it == clients_.end()) {
      return false;
    }
    endpoint = it->second.endpoint;
  }
  return server_count(endpoint.service, endpoint.type) > 0;
}

std::size_t ServiceGraph::server_count(const std::string& service, const std::string& type) const {
  std::shared_ptr<ServiceTransport> transport;
  std::size_t count = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count = local_server_count(service, type);
    transport = transport_;
  }
  if (transport != nullptr) {
    count += transport->remote_server_count(service, type);
  }
  return count;
}

void ServiceGraph::set_transport(std::shared_ptr<ServiceTransport> transport) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    transport_ = std::move(transport);
  }
  changes_->trigger();
}

}  // namespace ros2_core
