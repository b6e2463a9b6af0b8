// Service requests and replies between processes, as ROS 2's DDS middlewares carry them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include <dds/dds.h>

#include "ros2_core/service_graph.hpp"
#include "ros2_core/service_transport.hpp"
#include "ros2_dds/dds_transport.hpp"

namespace ros2_dds {

// A service "/n/s" of type "pkg/srv/T" is two DDS topics: requests on "rq/n/sRequest" (type
// "pkg::srv::dds_::T_Request_") and replies on "rr/n/sReply" ("..._Response_"). Each sample
// starts, after the CDR encapsulation, with the request header ROS 2's Cyclone middleware uses:
// the client's 64-bit id (the instance handle of its request writer) and the sequence number;
// the reply repeats them, so that each client keeps only its own replies.
//
// A local server gets a request reader and a reply writer; a local client a request writer and
// a reply reader, each pair marked as one in its user data ("serviceid=...;", "clientid=...;").
// A server elsewhere counts as reachable for a client while its request writer and reply reader
// are both matched. A client may send before the server has found its reply reader: the reply
// waits, up to a second, for that reader. Shares the participant (and its topics) of a
// DdsTransport. Thread-safe; arriving samples are parsed on Cyclone's receive thread, and a
// malformed one is dropped with an error naming the service.
class DdsServiceTransport : public ros2_core::ServiceTransport {
 public:
  using ErrorHandler = DdsTransport::ErrorHandler;

  DdsServiceTransport(std::shared_ptr<DdsTransport> participant,
                      std::weak_ptr<ros2_core::ServiceGraph> graph, ErrorHandler report_error);
  ~DdsServiceTransport() override;
  DdsServiceTransport(const DdsServiceTransport&) = delete;
  DdsServiceTransport& operator=(const DdsServiceTransport&) = delete;

  void server_added(const ros2_core::ServiceEndpoint& server) override;
  void server_removed(const ros2_core::ServiceEndpoint& server) override;
  void client_added(const ros2_core::ServiceEndpoint& client, const ros2_core::Guid& guid) override;
  void client_removed(const ros2_core::ServiceEndpoint& client,
                      const ros2_core::Guid& guid) override;
  bool send_request(const ros2_core::ServiceEndpoint& client, const ros2_core::RequestId& id,
                    const std::shared_ptr<const void>& request) override;
  bool send_reply(const ros2_core::ServiceEndpoint& server, const ros2_core::RequestId& id,
                  const std::shared_ptr<const void>& reply) override;
  std::size_t remote_server_count(const std::string& service,
                                  const std::string& type) const override;

 private:
  struct Server;
  struct Client;
  using ServiceKey = std::pair<std::string, std::string>;  // service, type

  // A fresh "serviceid" for a local server's pair of endpoints.
  std::string next_service_id();
  static void on_request(dds_entity_t reader, void* arg);
  static void on_reply(dds_entity_t reader, void* arg);
  static void on_match(dds_entity_t entity, void* arg);

  const std::shared_ptr<DdsTransport> participant_;
  const std::weak_ptr<ros2_core::ServiceGraph> graph_;
  const ErrorHandler report_error_;
  mutable std::mutex mutex_;
  std::multimap<ServiceKey, std::shared_ptr<Server>> servers_;  // guarded by mutex_
  std::map<ros2_core::Guid, std::shared_ptr<Client>> clients_;  // guarded by mutex_
  std::uint32_t servers_made_{0};                               // guarded by mutex_
};

}  // namespace ros2_dds
