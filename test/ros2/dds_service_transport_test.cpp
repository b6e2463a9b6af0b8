// Service calls between two contexts over DDS: the server's node in one participant, the client
// in another, so that requests and replies cross the wire as between two processes.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <lifecycle_msgs/msg/state.hpp>
#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>

#include "rclcpp/executors.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp_lifecycle/lifecycle_node.hpp"

namespace {

using namespace std::chrono_literals;

// A context of its own with its executor; spin() runs it on a thread of its own, else the test
// thread spins it while it waits for a reply.
class Side {
 public:
  Side() : context_(std::make_shared<rclcpp::Context>()) {
    context_->init(0, nullptr);
    rclcpp::ExecutorOptions options;
    options.context = context_;
    executor_ = std::make_shared<rclcpp::executors::SingleThreadedExecutor>(options);
  }
  ~Side() {
    executor_->cancel();
    if (thread_.joinable()) {
      thread_.join();
    }
    context_->shutdown("test over");
  }
  rclcpp::NodeOptions options() const { return rclcpp::NodeOptions().context(context_); }
  template <typename NodeT>
  void spin(const std::shared_ptr<NodeT>& node) {
    executor_->add_node(node->get_node_base_interface());
    thread_ = std::thread([this] { executor_->spin(); });
  }
  rclcpp::executors::SingleThreadedExecutor& executor() { return *executor_; }

 private:
  rclcpp::Context::SharedPtr context_;
  std::shared_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread thread_;
};

template <typename ServiceT>
typename ServiceT::Response::SharedPtr call(Side& side, const rclcpp::Node::SharedPtr& caller,
                                            const std::string& service,
                                            typename ServiceT::Request::SharedPtr request) {
  auto client = caller->create_client<ServiceT>(service);
  if (!client->wait_for_service(10s)) {
    ADD_FAILURE() << "no server of " << service << " was found";
    return nullptr;
  }
  auto future = client->async_send_request(request);
  if (side.executor().spin_until_future_complete(future, 10s) !=
      rclcpp::FutureReturnCode::SUCCESS) {
    ADD_FAILURE() << "no reply from " << service;
    return nullptr;
  }
  return future.get();
}

TEST(DdsServices, ParametersOfANodeInAnotherParticipantAreSetThroughItsServices) {
  Side server_side;
  auto node = std::make_shared<rclcpp::Node>("detector", server_side.options());
  node->declare_parameter("ground.max_slope", 0.2);
  auto handle = node->add_on_set_parameters_callback([](const std::vector<rclcpp::Parameter>& ps) {
    rcl_interfaces::msg::SetParametersResult result;
    result.successful = true;
    for (const auto& p : ps) {
      if (p.get_name() == "ground.max_slope" && p.as_double() < 0.0) {
        result.successful = false;
        result.reason = "ground.max_slope must not be negative";
      }
    }
    return result;
  });
  server_side.spin(node);

  Side client_side;
  auto caller = std::make_shared<rclcpp::Node>("caller", client_side.options());
  client_side.executor().add_node(caller);
  auto set = std::make_shared<rcl_interfaces::srv::SetParameters::Request>();
  set->parameters.push_back(rclcpp::Parameter("ground.max_slope", 0.35).to_parameter_msg());
  set->parameters.push_back(rclcpp::Parameter("ground.max_slope", -1.0).to_parameter_msg());
  auto set_reply = call<rcl_interfaces::srv::SetParameters>(client_side, caller,
                                                            "/detector/set_parameters", set);
  ASSERT_NE(set_reply, nullptr);
  ASSERT_EQ(set_reply->results.size(), 2u);
  EXPECT_TRUE(set_reply->results[0].successful);
  EXPECT_FALSE(set_reply->results[1].successful);
  EXPECT_EQ(set_reply->results[1].reason, "ground.max_slope must not be negative");
  EXPECT_DOUBLE_EQ(node->get_parameter("ground.max_slope").as_double(), 0.35);

  auto get = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
  get->names = {"ground.max_slope"};
  auto get_reply = call<rcl_interfaces::srv::GetParameters>(client_side, caller,
                                                            "/detector/get_parameters", get);
  ASSERT_NE(get_reply, nullptr);
  ASSERT_EQ(get_reply->values.size(), 1u);
  EXPECT_DOUBLE_EQ(get_reply->values[0].double_value, 0.35);
}

TEST(DdsServices, LifecycleTransitionsComeFromAnotherParticipant) {
  Side server_side;
  auto node = std::make_shared<rclcpp_lifecycle::LifecycleNode>("managed", server_side.options());
  server_side.spin(node);

  Side client_side;
  auto caller = std::make_shared<rclcpp::Node>("manager", client_side.options());
  client_side.executor().add_node(caller);
  for (const char* label : {"configure", "activate"}) {
    auto change = std::make_shared<lifecycle_msgs::srv::ChangeState::Request>();
    change->transition.label = label;
    auto reply = call<lifecycle_msgs::srv::ChangeState>(client_side, caller,
                                                        "/managed/change_state", change);
    ASSERT_NE(reply, nullptr);
    EXPECT_TRUE(reply->success) << label;
  }
  auto state = call<lifecycle_msgs::srv::GetState>(
      client_side, caller, "/managed/get_state",
      std::make_shared<lifecycle_msgs::srv::GetState::Request>());
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->current_state.id, lifecycle_msgs::msg::State::PRIMARY_STATE_ACTIVE);
  EXPECT_EQ(state->current_state.label, "active");
}

TEST(DdsServices, TwoClientsOfOneServerEachGetTheirOwnReplies) {
  Side server_side;
  auto node = std::make_shared<rclcpp::Node>("detector", server_side.options());
  node->declare_parameter("a", 1);
  node->declare_parameter("b", 2);
  server_side.spin(node);

  Side first_side;
  Side second_side;
  auto first = std::make_shared<rclcpp::Node>("first", first_side.options());
  auto second = std::make_shared<rclcpp::Node>("second", second_side.options());
  first_side.executor().add_node(first);
  second_side.executor().add_node(second);
  auto ask = [](const std::string& name) {
    auto request = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
    request->names = {name};
    return request;
  };
  for (int round = 0; round < 3; ++round) {
    auto a = call<rcl_interfaces::srv::GetParameters>(first_side, first, "/detector/get_parameters",
                                                      ask("a"));
    auto b = call<rcl_interfaces::srv::GetParameters>(second_side, second,
                                                      "/detector/get_parameters", ask("b"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(a->values.size(), 1u);
    ASSERT_EQ(b->values.size(), 1u);
    EXPECT_EQ(a->values[0].integer_value, 1);
    EXPECT_EQ(b->values[0].integer_value, 2);
  }
}

TEST(DdsServices, WaitingForAServiceNobodyOffersTimesOut) {
  Side side;
  auto caller = std::make_shared<rclcpp::Node>("caller", side.options());
  auto client = caller->create_client<rcl_interfaces::srv::GetParameters>("/nobody/get_parameters");
  EXPECT_FALSE(client->wait_for_service(300ms));
  EXPECT_FALSE(client->service_is_ready());
}

}  // namespace
