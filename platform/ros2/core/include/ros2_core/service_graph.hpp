// Routing of service requests and replies between the servers and clients of one process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ros2_core/guard_condition.hpp"
#include "ros2_core/service_sink.hpp"
#include "ros2_core/service_transport.hpp"

namespace ros2_core {

// The service graph of one context, beside its TopicGraph. Servers and clients register with
// their service name and type; each client gets a guid that, with its sequence numbers,
// identifies its requests. A request goes to the oldest server of the same name and type in
// this process, or else to the transport; a reply goes to the client whose guid it carries,
// or else to the transport. Nothing is copied: messages travel as shared pointers.
//
// `changes()` is triggered whenever the set of reachable servers may have changed (a local
// server came or went, the transport reported a change), so that wait_for_service can block
// instead of polling.
//
// Thread-safe. Sinks and the transport are called with no graph lock held.
class ServiceGraph {
 public:
  using EndpointId = std::uint64_t;

  ServiceGraph();

  EndpointId add_server(const ServiceEndpoint& endpoint, std::shared_ptr<ServiceSink> requests);
  EndpointId add_client(const ServiceEndpoint& endpoint, std::shared_ptr<ServiceSink> replies);
  void remove_server(EndpointId id);
  void remove_client(EndpointId id);

  // The guid the requests of `client` carry; all zero for an unknown client.
  Guid client_guid(EndpointId client) const;

  // Sends `request` of `client` with `sequence_number`. Returns false when the client is
  // unknown, or no server of this process takes it and no transport accepted it: the request
  // is then lost, as a request to a service nobody offers is.
  bool send_request(EndpointId client, std::int64_t sequence_number,
                    const std::shared_ptr<const void>& request);
  // Sends the reply of `server` to the request `id`. Returns false when neither a client of
  // this process nor the transport took it (the client is gone).
  bool send_reply(EndpointId server, const RequestId& id, const std::shared_ptr<const void>& reply);

  // Entry points for what arrives from another process. Each returns false when no local
  // server (client) was there to take it.
  bool deliver_request_from_transport(const std::string& service, const std::string& type,
                                      const RequestId& id,
                                      const std::shared_ptr<const void>& request);
  bool deliver_reply_from_transport(const RequestId& id, const std::shared_ptr<const void>& reply);
  // The transport found or lost a server in another process.
  void remote_servers_changed();

  // Whether a server for `client`'s service and type can be reached, here or elsewhere.
  bool server_available(EndpointId client) const;
  // Local servers plus those the transport reaches.
  std::size_t server_count(const std::string& service, const std::string& type) const;

  std::shared_ptr<GuardCondition> changes() const { return changes_; }

  void set_transport(std::shared_ptr<ServiceTransport> transport);

 private:
  struct Endpoint {
    ServiceEndpoint endpoint;
    std::shared_ptr<ServiceSink> sink;
    Guid guid{};  // clients only
  };

  std::shared_ptr<ServiceSink> local_server(const std::string& service,
                                            const std::string& type) const;
  std::size_t local_server_count(const std::string& service, const std::string& type) const;

  const std::shared_ptr<GuardCondition> changes_;
  // Distinguishes this graph's guids from those of other processes and contexts.
  const std::uint64_t guid_prefix_;
  mutable std::mutex mutex_;
  EndpointId next_id_{1};                        // guarded by mutex_
  std::map<EndpointId, Endpoint> servers_;       // guarded by mutex_
  std::map<EndpointId, Endpoint> clients_;       // guarded by mutex_
  std::shared_ptr<ServiceTransport> transport_;  // guarded by mutex_
};

}  // namespace ros2_core
