// The ROS-free service graph: which server a request reaches, which client a reply reaches,
// what goes to the transport, and the change signal wait_for_service blocks on.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ros2_core/service_graph.hpp"

namespace {

using ros2_core::RequestId;
using ros2_core::ServiceEndpoint;
using ros2_core::ServiceGraph;

// Remembers what reached it; messages are plain ints.
class RecordingSink : public ros2_core::ServiceSink {
 public:
  void deliver(const RequestId& id, const std::shared_ptr<const void>& message) override {
    received.emplace_back(id, *static_cast<const int*>(message.get()));
  }
  std::vector<std::pair<RequestId, int>> received;
};

class RecordingTransport : public ros2_core::ServiceTransport {
 public:
  void server_added(const ServiceEndpoint& server) override { added.push_back(server.service); }
  void server_removed(const ServiceEndpoint& server) override { removed.push_back(server.service); }
  void client_added(const ServiceEndpoint&, const ros2_core::Guid& guid) override {
    client_guids.push_back(guid);
  }
  void client_removed(const ServiceEndpoint&, const ros2_core::Guid&) override {}
  bool send_request(const ServiceEndpoint& client, const RequestId& id,
                    const std::shared_ptr<const void>& request) override {
    requests.emplace_back(client.service, id, *static_cast<const int*>(request.get()));
    return accept;
  }
  bool send_reply(const ServiceEndpoint& server, const RequestId& id,
                  const std::shared_ptr<const void>& reply) override {
    replies.emplace_back(server.service, id, *static_cast<const int*>(reply.get()));
    return accept;
  }
  std::size_t remote_server_count(const std::string& service, const std::string&) const override {
    return service == "/remote" ? 1 : 0;
  }

  bool accept{true};
  std::vector<std::string> added, removed;
  std::vector<ros2_core::Guid> client_guids;
  std::vector<std::tuple<std::string, RequestId, int>> requests, replies;
};

ServiceEndpoint endpoint(const std::string& service, const std::string& type = "pkg/srv/T") {
  return ServiceEndpoint{service, type, nullptr, {}};
}

std::shared_ptr<const void> value(int v) {
  return std::make_shared<const int>(v);
}

TEST(ServiceGraph, RequestReachesTheOldestMatchingServerAndTheReplyItsClient) {
  ServiceGraph graph;
  auto first = std::make_shared<RecordingSink>();
  auto second = std::make_shared<RecordingSink>();
  auto other_type = std::make_shared<RecordingSink>();
  const auto other_type_id = graph.add_server(endpoint("/sum", "pkg/srv/Other"), other_type);
  const auto first_id = graph.add_server(endpoint("/sum"), first);
  graph.add_server(endpoint("/sum"), second);
  auto replies_a = std::make_shared<RecordingSink>();
  auto replies_b = std::make_shared<RecordingSink>();
  const auto client_a = graph.add_client(endpoint("/sum"), replies_a);
  const auto client_b = graph.add_client(endpoint("/sum"), replies_b);
  EXPECT_NE(graph.client_guid(client_a), graph.client_guid(client_b));

  ASSERT_TRUE(graph.send_request(client_a, 7, value(40)));
  ASSERT_TRUE(graph.send_request(client_b, 1, value(2)));
  ASSERT_EQ(first->received.size(), 2u);
  EXPECT_TRUE(second->received.empty());
  EXPECT_TRUE(other_type->received.empty());
  EXPECT_EQ(first->received[0].first, (RequestId{graph.client_guid(client_a), 7}));
  EXPECT_EQ(first->received[1].first, (RequestId{graph.client_guid(client_b), 1}));

  // Replies go by guid, whichever server sends them.
  ASSERT_TRUE(graph.send_reply(first_id, first->received[1].first, value(-2)));
  ASSERT_TRUE(graph.send_reply(first_id, first->received[0].first, value(-40)));
  ASSERT_EQ(replies_a->received.size(), 1u);
  EXPECT_EQ(replies_a->received[0].second, -40);
  EXPECT_EQ(replies_a->received[0].first.sequence_number, 7);
  ASSERT_EQ(replies_b->received.size(), 1u);
  EXPECT_EQ(replies_b->received[0].second, -2);

  // The second server takes over when the first goes.
  graph.remove_server(first_id);
  ASSERT_TRUE(graph.send_request(client_a, 8, value(1)));
  EXPECT_EQ(second->received.size(), 1u);
  graph.remove_server(other_type_id);
}

TEST(ServiceGraph, WithoutServerOrTransportTheRequestIsLost) {
  ServiceGraph graph;
  auto replies = std::make_shared<RecordingSink>();
  const auto client = graph.add_client(endpoint("/nobody"), replies);
  EXPECT_FALSE(graph.server_available(client));
  EXPECT_FALSE(graph.send_request(client, 1, value(1)));

  auto server = std::make_shared<RecordingSink>();
  const auto server_id = graph.add_server(endpoint("/nobody"), server);
  EXPECT_TRUE(graph.server_available(client));
  ASSERT_TRUE(graph.send_request(client, 2, value(2)));
  const RequestId id = server->received.at(0).first;
  graph.remove_client(client);
  // The client is gone and no transport could carry the reply elsewhere.
  EXPECT_FALSE(graph.send_reply(server_id, id, value(3)));
  EXPECT_TRUE(replies->received.empty());
  EXPECT_FALSE(graph.send_request(client, 3, value(3)));
}

TEST(ServiceGraph, TransportCarriesWhatNoLocalEndpointTakes) {
  ServiceGraph graph;
  auto transport = std::make_shared<RecordingTransport>();
  graph.set_transport(transport);
  auto local_server = std::make_shared<RecordingSink>();
  const auto server_id = graph.add_server(endpoint("/local"), local_server);
  auto replies = std::make_shared<RecordingSink>();
  const auto local_client = graph.add_client(endpoint("/local"), replies);
  const auto remote_client = graph.add_client(endpoint("/remote"), replies);
  EXPECT_EQ(transport->added, std::vector<std::string>{"/local"});
  ASSERT_EQ(transport->client_guids.size(), 2u);
  EXPECT_EQ(transport->client_guids[1], graph.client_guid(remote_client));

  // A local server is preferred; the transport sees nothing of that exchange.
  ASSERT_TRUE(graph.send_request(local_client, 1, value(10)));
  EXPECT_TRUE(transport->requests.empty());
  // No local server: the request leaves the process.
  EXPECT_TRUE(graph.server_available(remote_client));
  ASSERT_TRUE(graph.send_request(remote_client, 5, value(11)));
  ASSERT_EQ(transport->requests.size(), 1u);
  EXPECT_EQ(std::get<0>(transport->requests[0]), "/remote");
  EXPECT_EQ(std::get<1>(transport->requests[0]), (RequestId{graph.client_guid(remote_client), 5}));
  // The remote reply arrives for our client.
  EXPECT_TRUE(graph.deliver_reply_from_transport(std::get<1>(transport->requests[0]), value(12)));
  ASSERT_EQ(replies->received.size(), 1u);
  EXPECT_EQ(replies->received[0].second, 12);

  // A request from another process reaches the local server; its reply goes back out.
  RequestId foreign{};
  foreign.writer_guid.fill(0xab);
  foreign.sequence_number = 3;
  EXPECT_TRUE(graph.deliver_request_from_transport("/local", "pkg/srv/T", foreign, value(13)));
  EXPECT_FALSE(graph.deliver_request_from_transport("/local", "pkg/srv/Other", foreign, value(0)));
  ASSERT_EQ(local_server->received.size(), 2u);
  ASSERT_TRUE(graph.send_reply(server_id, foreign, value(14)));
  ASSERT_EQ(transport->replies.size(), 1u);
  EXPECT_EQ(std::get<1>(transport->replies[0]), foreign);
  EXPECT_EQ(std::get<2>(transport->replies[0]), 14);
  // A reply for no client of ours is refused.
  EXPECT_FALSE(graph.deliver_reply_from_transport(foreign, value(15)));

  transport->accept = false;
  EXPECT_FALSE(graph.send_request(remote_client, 6, value(16)));
  graph.remove_server(server_id);
  EXPECT_EQ(transport->removed, std::vector<std::string>{"/local"});
}

TEST(ServiceGraph, ServerChangesTriggerTheChangeSignal) {
  ServiceGraph graph;
  const auto changes = graph.changes();
  const std::uint64_t before = changes->generation();
  const auto server = graph.add_server(endpoint("/s"), std::make_shared<RecordingSink>());
  const std::uint64_t after_add = changes->generation();
  EXPECT_NE(after_add, before);
  graph.remove_server(server);
  const std::uint64_t after_remove = changes->generation();
  EXPECT_NE(after_remove, after_add);
  graph.remote_servers_changed();
  EXPECT_NE(changes->generation(), after_remove);
}

}  // namespace
