// The seam where service requests and replies leave and enter the process.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <rosidl_typesupport_introspection_cpp/service_introspection.hpp>

#include "ros2_core/qos_profile.hpp"

namespace ros2_core {

using ServiceMembers = rosidl_typesupport_introspection_cpp::ServiceMembers;

// The 16-byte identity of a client, as DDS names the writer of its requests.
using Guid = std::array<std::uint8_t, 16>;

// Identifies one request and its reply: the client's guid and the client's sequence number,
// the pair rmw_request_id_t carries.
struct RequestId {
  Guid writer_guid{};
  std::int64_t sequence_number{0};

  bool operator==(const RequestId& other) const {
    return writer_guid == other.writer_guid && sequence_number == other.sequence_number;
  }
  bool operator!=(const RequestId& other) const { return !(*this == other); }
};

// One service server or client as the graph knows it. `type` is the service type's name as
// rosidl spells it ("lifecycle_msgs/srv/ChangeState"); `members` describes its request and
// response so that a transport can serialize them; it outlives the process's use of the type.
struct ServiceEndpoint {
  std::string service;
  std::string type;
  const ServiceMembers* members{nullptr};
  QosProfile qos;
};

// An inter-process transport plugs in here. The graph announces local servers and clients,
// hands over requests no server of this process can take and replies to clients of other
// processes; the transport hands what arrives from other processes back through
// ServiceGraph::deliver_request_from_transport / deliver_reply_from_transport, and calls
// ServiceGraph::remote_servers_changed when it discovers or loses a server elsewhere.
// Messages are objects of the request or response type of `members`, shared and immutable.
// Calls come from any thread, never with a graph lock held.
class ServiceTransport {
 public:
  virtual ~ServiceTransport() = default;
  virtual void server_added(const ServiceEndpoint& server) = 0;
  virtual void server_removed(const ServiceEndpoint& server) = 0;
  virtual void client_added(const ServiceEndpoint& client, const Guid& guid) = 0;
  virtual void client_removed(const ServiceEndpoint& client, const Guid& guid) = 0;
  // Each returns false when the message could not be sent.
  virtual bool send_request(const ServiceEndpoint& client, const RequestId& id,
                            const std::shared_ptr<const void>& request) = 0;
  virtual bool send_reply(const ServiceEndpoint& server, const RequestId& id,
                          const std::shared_ptr<const void>& reply) = 0;
  // Servers of `service` with `type` in other processes that can be reached now.
  virtual std::size_t remote_server_count(const std::string& service,
                                          const std::string& type) const = 0;
};

}  // namespace ros2_core
