// Services and clients in one process: round trips through the executor, the callback shapes,
// request ids, waiting for a server, and a server that goes away.
#include <gtest/gtest.h>

#include <rcl_interfaces/srv/get_parameter_types.hpp>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/client.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp/service.hpp"

namespace {

using namespace std::chrono_literals;
// A service type that ships with the tree: the test server answers each name with its length.
using Lengths = rcl_interfaces::srv::GetParameterTypes;

std::shared_ptr<Lengths::Request> request_of(const std::vector<std::string>& names) {
  auto request = std::make_shared<Lengths::Request>();
  request->names = names;
  return request;
}

void answer_lengths(const std::shared_ptr<Lengths::Request>& request,
                    const std::shared_ptr<Lengths::Response>& response) {
  for (const auto& name : request->names) {
    response->types.push_back(static_cast<uint8_t>(name.size()));
  }
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = std::make_shared<rclcpp::Context>();
    context_->init(0, nullptr);
    rclcpp::NodeOptions options;
    options.context(context_).start_parameter_services(false);
    server_node_ = std::make_shared<rclcpp::Node>("server", "/ns", options);
    client_node_ = std::make_shared<rclcpp::Node>("client", "/ns", options);
    rclcpp::ExecutorOptions executor_options;
    executor_options.context = context_;
    executor_ = std::make_unique<rclcpp::executors::SingleThreadedExecutor>(executor_options);
    executor_->add_node(server_node_);
    executor_->add_node(client_node_);
  }
  void TearDown() override { context_->shutdown("test end"); }

  rclcpp::Context::SharedPtr context_;
  rclcpp::Node::SharedPtr server_node_;
  rclcpp::Node::SharedPtr client_node_;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
};

TEST_F(ServiceTest, RoundTripAnswersEachRequestWithItsOwnResponse) {
  auto service = server_node_->create_service<Lengths>("lengths", &answer_lengths);
  EXPECT_STREQ(service->get_service_name(), "/ns/lengths");
  auto client = client_node_->create_client<Lengths>("/ns/lengths");
  ASSERT_TRUE(client->wait_for_service(0s));
  EXPECT_TRUE(client->service_is_ready());

  auto first = client->async_send_request(request_of({"a", "abcd"}));
  auto second = client->async_send_request(request_of({"abc"}));
  EXPECT_EQ(first.request_id, 1);
  EXPECT_EQ(second.request_id, 2);
  // Nothing completes without the executor.
  EXPECT_EQ(first.wait_for(0s), std::future_status::timeout);
  ASSERT_EQ(executor_->spin_until_future_complete(second, 10s), rclcpp::FutureReturnCode::SUCCESS);
  ASSERT_EQ(executor_->spin_until_future_complete(first, 10s), rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(first.get()->types, (std::vector<uint8_t>{1, 4}));
  EXPECT_EQ(second.get()->types, (std::vector<uint8_t>{3}));
}

TEST_F(ServiceTest, RequestHeaderCarriesTheClientsGuidAndSequenceNumber) {
  std::vector<rmw_request_id_t> headers;
  auto service = server_node_->create_service<Lengths>(
      "lengths", [&](const std::shared_ptr<rmw_request_id_t> header,
                     const std::shared_ptr<Lengths::Request> request,
                     std::shared_ptr<Lengths::Response> response) {
        headers.push_back(*header);
        answer_lengths(request, response);
      });
  auto client_a = client_node_->create_client<Lengths>("lengths");
  auto client_b = client_node_->create_client<Lengths>("lengths");
  auto a1 = client_a->async_send_request(request_of({"x"}));
  auto a2 = client_a->async_send_request(request_of({"x"}));
  auto b1 = client_b->async_send_request(request_of({"x"}));
  for (auto* future : {&a1, &a2, &b1}) {
    ASSERT_EQ(executor_->spin_until_future_complete(*future, 10s),
              rclcpp::FutureReturnCode::SUCCESS);
  }
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers[0].sequence_number, 1);
  EXPECT_EQ(headers[1].sequence_number, 2);
  EXPECT_EQ(headers[2].sequence_number, 1);
  EXPECT_EQ(std::memcmp(headers[0].writer_guid, headers[1].writer_guid, 16), 0);
  EXPECT_NE(std::memcmp(headers[0].writer_guid, headers[2].writer_guid, 16), 0);
}

TEST_F(ServiceTest, DeferredResponseIsSentWhenTheServerAnswers) {
  std::vector<std::pair<rmw_request_id_t, std::shared_ptr<Lengths::Request>>> held;
  rclcpp::Service<Lengths>::SharedPtr service;
  service = server_node_->create_service<Lengths>(
      "later",
      [&](std::shared_ptr<rclcpp::Service<Lengths>> handle,
          std::shared_ptr<rmw_request_id_t> header, std::shared_ptr<Lengths::Request> request) {
        EXPECT_EQ(handle, service);
        held.emplace_back(*header, request);
      });
  auto client = client_node_->create_client<Lengths>("later");
  auto future = client->async_send_request(request_of({"four"}));
  EXPECT_EQ(executor_->spin_until_future_complete(future, 100ms),
            rclcpp::FutureReturnCode::TIMEOUT);
  ASSERT_EQ(held.size(), 1u);
  Lengths::Response response;
  response.types = {99};
  service->send_response(held[0].first, response);
  ASSERT_EQ(executor_->spin_until_future_complete(future, 10s), rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(future.get()->types, std::vector<uint8_t>{99});
}

TEST_F(ServiceTest, ResponseCallbacksRunInTheExecutor) {
  auto service = server_node_->create_service<Lengths>("lengths", &answer_lengths);
  auto client = client_node_->create_client<Lengths>("lengths");
  std::vector<uint8_t> seen;
  auto plain = client->async_send_request(
      request_of({"ab"}),
      [&](rclcpp::Client<Lengths>::SharedFuture future) { seen = future.get()->types; });
  std::vector<std::string> request_names;
  auto with_request = client->async_send_request(
      request_of({"abcde"}), [&](rclcpp::Client<Lengths>::SharedFutureWithRequest future) {
        request_names = future.get().first->names;
        seen.push_back(future.get().second->types.at(0));
      });
  ASSERT_EQ(executor_->spin_until_future_complete(plain, 10s), rclcpp::FutureReturnCode::SUCCESS);
  ASSERT_EQ(executor_->spin_until_future_complete(with_request, 10s),
            rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(seen, (std::vector<uint8_t>{2, 5}));
  EXPECT_EQ(request_names, std::vector<std::string>{"abcde"});
}

TEST_F(ServiceTest, WaitForServiceTimesOutAndWakesForALateServer) {
  auto client = client_node_->create_client<Lengths>("late");
  EXPECT_FALSE(client->service_is_ready());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client->wait_for_service(50ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  // A service of another type under the same name does not count.
  auto wrong_type = server_node_->create_service<rcl_interfaces::srv::GetParameters>(
      "late", [](std::shared_ptr<rcl_interfaces::srv::GetParameters::Request>,
                 std::shared_ptr<rcl_interfaces::srv::GetParameters::Response>) {});
  EXPECT_FALSE(client->wait_for_service(0s));

  rclcpp::Service<Lengths>::SharedPtr service;
  std::thread creator([&] {
    std::this_thread::sleep_for(50ms);
    service = server_node_->create_service<Lengths>("late", &answer_lengths);
  });
  EXPECT_TRUE(client->wait_for_service(30s));
  creator.join();
}

TEST_F(ServiceTest, WaitForServiceEndsAtShutdown) {
  auto client = client_node_->create_client<Lengths>("never");
  std::thread stopper([&] {
    std::this_thread::sleep_for(50ms);
    context_->shutdown("stop waiting");
  });
  EXPECT_FALSE(client->wait_for_service(-1s));
  stopper.join();
}

TEST_F(ServiceTest, RequestsToAServerThatWentAwayAreNeverAnswered) {
  auto service = server_node_->create_service<Lengths>("fragile", &answer_lengths);
  auto client = client_node_->create_client<Lengths>("fragile");
  ASSERT_TRUE(client->service_is_ready());
  auto queued = client->async_send_request(request_of({"a"}));
  // The server goes before it ran the request.
  service.reset();
  EXPECT_FALSE(client->service_is_ready());
  EXPECT_FALSE(client->wait_for_service(20ms));
  EXPECT_EQ(executor_->spin_until_future_complete(queued, 100ms),
            rclcpp::FutureReturnCode::TIMEOUT);
  auto unsent = client->async_send_request(request_of({"b"}));
  EXPECT_EQ(executor_->spin_until_future_complete(unsent, 50ms), rclcpp::FutureReturnCode::TIMEOUT);
  EXPECT_TRUE(client->remove_pending_request(unsent));
  EXPECT_FALSE(client->remove_pending_request(unsent));
  EXPECT_EQ(client->prune_pending_requests(), 1u);

  // A new server answers new requests.
  service = server_node_->create_service<Lengths>("fragile", &answer_lengths);
  auto fresh = client->async_send_request(request_of({"abc"}));
  ASSERT_EQ(executor_->spin_until_future_complete(fresh, 10s), rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(fresh.get()->types, std::vector<uint8_t>{3});
}

TEST_F(ServiceTest, ServiceInAGroupOfAnotherNodeIsRefused) {
  auto foreign = client_node_->create_callback_group(rclcpp::CallbackGroupType::Reentrant);
  EXPECT_THROW(server_node_->create_service<Lengths>("lengths", &answer_lengths,
                                                     rmw_qos_profile_services_default, foreign),
               std::runtime_error);
  EXPECT_THROW(
      server_node_->create_client<Lengths>("lengths", rmw_qos_profile_services_default, foreign),
      std::runtime_error);
}

}  // namespace
