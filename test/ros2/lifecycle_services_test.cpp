// A lifecycle node driven and inspected through its services.
#include <gtest/gtest.h>

#include <lifecycle_msgs/msg/state.hpp>
#include <lifecycle_msgs/msg/transition.hpp>
#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_available_states.hpp>
#include <lifecycle_msgs/srv/get_available_transitions.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "rclcpp_lifecycle/lifecycle_node.hpp"

namespace {

using namespace std::chrono_literals;
using lifecycle_msgs::msg::State;
using lifecycle_msgs::msg::Transition;
using CallbackReturn = rclcpp_lifecycle::node_interfaces::LifecycleNodeInterface::CallbackReturn;
namespace srv = lifecycle_msgs::srv;

// Counts configure calls; refuses to activate while `refuse_activation` is set.
class ManagedNode : public rclcpp_lifecycle::LifecycleNode {
 public:
  explicit ManagedNode(const rclcpp::NodeOptions& options)
      : rclcpp_lifecycle::LifecycleNode("managed", options) {}
  CallbackReturn on_configure(const rclcpp_lifecycle::State&) override {
    ++configure_calls;
    return CallbackReturn::SUCCESS;
  }
  CallbackReturn on_activate(const rclcpp_lifecycle::State& previous) override {
    if (refuse_activation) {
      return CallbackReturn::FAILURE;
    }
    return rclcpp_lifecycle::LifecycleNode::on_activate(previous);
  }
  int configure_calls{0};
  bool refuse_activation{false};
};

class LifecycleServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = std::make_shared<rclcpp::Context>();
    context_->init(0, nullptr);
    rclcpp::NodeOptions options;
    options.context(context_);
    node_ = std::make_shared<ManagedNode>(options);
    caller_ = std::make_shared<rclcpp::Node>("caller", options);
    rclcpp::ExecutorOptions executor_options;
    executor_options.context = context_;
    executor_ = std::make_unique<rclcpp::executors::SingleThreadedExecutor>(executor_options);
    executor_->add_node(node_);
    executor_->add_node(caller_);
  }
  void TearDown() override { context_->shutdown("test end"); }

  template <typename ServiceT>
  typename ServiceT::Response::SharedPtr call(const std::string& name,
                                              typename ServiceT::Request::SharedPtr request =
                                                  std::make_shared<typename ServiceT::Request>()) {
    auto client = caller_->create_client<ServiceT>(name);
    EXPECT_TRUE(client->wait_for_service(10s)) << name;
    auto future = client->async_send_request(request);
    EXPECT_EQ(executor_->spin_until_future_complete(future, 10s),
              rclcpp::FutureReturnCode::SUCCESS);
    return future.get();
  }

  bool change_state(uint8_t id, const std::string& label = "") {
    auto request = std::make_shared<srv::ChangeState::Request>();
    request->transition.id = id;
    request->transition.label = label;
    return call<srv::ChangeState>("/managed/change_state", request)->success;
  }

  State state() { return call<srv::GetState>("/managed/get_state")->current_state; }

  rclcpp::Context::SharedPtr context_;
  std::shared_ptr<ManagedNode> node_;
  rclcpp::Node::SharedPtr caller_;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
};

TEST_F(LifecycleServicesTest, ChangeStateByIdOrLabelRunsTheCallbacks) {
  EXPECT_EQ(state().id, State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(state().label, "unconfigured");
  EXPECT_TRUE(change_state(Transition::TRANSITION_CONFIGURE));
  EXPECT_EQ(node_->configure_calls, 1);
  EXPECT_EQ(state().id, State::PRIMARY_STATE_INACTIVE);
  // The label wins over the id, which a hand-typed request leaves at 0.
  EXPECT_TRUE(change_state(0, "activate"));
  EXPECT_EQ(state().label, "active");
  EXPECT_EQ(node_->get_current_state().id(), State::PRIMARY_STATE_ACTIVE);
  EXPECT_TRUE(change_state(Transition::TRANSITION_CONFIGURE, "shutdown"));
  EXPECT_EQ(state().id, State::PRIMARY_STATE_FINALIZED);
  EXPECT_EQ(node_->configure_calls, 1);
}

TEST_F(LifecycleServicesTest, InvalidOrFailedTransitionsReportFailure) {
  // Not offered from unconfigured: refused, nothing runs.
  EXPECT_FALSE(change_state(Transition::TRANSITION_ACTIVATE));
  EXPECT_FALSE(change_state(0, "deactivate"));
  EXPECT_FALSE(change_state(0, "no_such_transition"));
  EXPECT_EQ(state().id, State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(node_->configure_calls, 0);

  EXPECT_TRUE(change_state(Transition::TRANSITION_CONFIGURE));
  node_->refuse_activation = true;
  EXPECT_FALSE(change_state(Transition::TRANSITION_ACTIVATE));
  EXPECT_EQ(state().id, State::PRIMARY_STATE_INACTIVE);
}

TEST_F(LifecycleServicesTest, AvailableTransitionsLeadIntoTheirTransitionStates) {
  ASSERT_TRUE(change_state(Transition::TRANSITION_CONFIGURE));
  auto response = call<srv::GetAvailableTransitions>("/managed/get_available_transitions");
  std::vector<std::string> described;
  for (const auto& d : response->available_transitions) {
    EXPECT_EQ(d.start_state.id, State::PRIMARY_STATE_INACTIVE);
    described.push_back(d.transition.label + ":" + std::to_string(d.transition.id) + "->" +
                        d.goal_state.label);
  }
  EXPECT_EQ(described, (std::vector<std::string>{"cleanup:2->cleaningup", "activate:3->activating",
                                                 "shutdown:6->shuttingdown"}));

  auto states = call<srv::GetAvailableStates>("/managed/get_available_states");
  std::vector<uint8_t> ids;
  for (const auto& s : states->available_states) {
    ids.push_back(s.id);
  }
  EXPECT_EQ(ids, (std::vector<uint8_t>{0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 15}));
}

TEST(LifecycleServicesOption, WithoutCommunicationInterfaceThereAreNoServices) {
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  rclcpp::NodeOptions options;
  options.context(context);
  auto quiet = std::make_shared<rclcpp_lifecycle::LifecycleNode>("quiet", options, false);
  auto caller = std::make_shared<rclcpp::Node>("caller", options);
  auto client = caller->create_client<srv::GetState>("/quiet/get_state");
  EXPECT_FALSE(client->wait_for_service(20ms));
  auto loud = std::make_shared<rclcpp_lifecycle::LifecycleNode>("loud", options);
  EXPECT_TRUE(caller->create_client<srv::GetState>("/loud/get_state")->service_is_ready());
  context->shutdown("test end");
}

}  // namespace
