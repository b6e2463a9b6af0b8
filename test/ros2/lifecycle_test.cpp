// Lifecycle transitions, refusals, error processing and lifecycle publishers.
#include <gtest/gtest.h>

#include <lifecycle_msgs/msg/state.hpp>
#include <std_msgs/msg/header.hpp>

#include <stdexcept>
#include <string>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "rclcpp_lifecycle/lifecycle_node.hpp"

namespace {

using lifecycle_msgs::msg::State;
using CallbackReturn = rclcpp_lifecycle::node_interfaces::LifecycleNodeInterface::CallbackReturn;

rclcpp::NodeOptions private_context_options() {
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  rclcpp::NodeOptions options;
  options.context(context);
  return options;
}

// Records every callback; configure behaves as `configure_result` says.
class RecordingNode : public rclcpp_lifecycle::LifecycleNode {
 public:
  enum class Configure { Succeed, Fail, Throw };
  explicit RecordingNode(Configure configure_result)
      : rclcpp_lifecycle::LifecycleNode("recording", private_context_options()),
        configure_result_(configure_result) {}

  CallbackReturn on_configure(const rclcpp_lifecycle::State& previous) override {
    calls.push_back("configure from " + previous.label());
    if (configure_result_ == Configure::Throw) {
      throw std::runtime_error("missing configuration file");
    }
    return configure_result_ == Configure::Fail ? CallbackReturn::FAILURE : CallbackReturn::SUCCESS;
  }
  CallbackReturn on_cleanup(const rclcpp_lifecycle::State& previous) override {
    calls.push_back("cleanup from " + previous.label());
    return CallbackReturn::SUCCESS;
  }
  CallbackReturn on_error(const rclcpp_lifecycle::State& previous) override {
    calls.push_back("error from " + previous.label() + " while in " + get_current_state().label());
    return CallbackReturn::SUCCESS;
  }

  std::vector<std::string> calls;

 private:
  const Configure configure_result_;
};

}  // namespace

TEST(LifecycleTransitions, FullCycleVisitsEveryPrimaryState) {
  RecordingNode node(RecordingNode::Configure::Succeed);
  EXPECT_EQ(node.get_current_state().id(), State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(node.configure().id(), State::PRIMARY_STATE_INACTIVE);
  EXPECT_EQ(node.activate().id(), State::PRIMARY_STATE_ACTIVE);
  EXPECT_EQ(node.get_current_state().label(), "active");
  EXPECT_EQ(node.deactivate().id(), State::PRIMARY_STATE_INACTIVE);
  EXPECT_EQ(node.cleanup().id(), State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(node.shutdown().id(), State::PRIMARY_STATE_FINALIZED);
  EXPECT_EQ(node.calls,
            (std::vector<std::string>{"configure from unconfigured", "cleanup from inactive"}));
}

TEST(LifecycleTransitions, WrongStateIsRefusedAndStateKept) {
  RecordingNode node(RecordingNode::Configure::Succeed);
  CallbackReturn code = CallbackReturn::SUCCESS;
  testing::internal::CaptureStderr();
  EXPECT_EQ(node.activate(code).id(), State::PRIMARY_STATE_UNCONFIGURED);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(code, CallbackReturn::SUCCESS);
  EXPECT_NE(log.find("Unable to start transition 3 from current state unconfigured"),
            std::string::npos)
      << log;
  EXPECT_TRUE(node.calls.empty());
  EXPECT_EQ(node.deactivate().id(), State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(node.cleanup().id(), State::PRIMARY_STATE_UNCONFIGURED);
}

TEST(LifecycleTransitions, FailureStaysUnconfigured) {
  RecordingNode node(RecordingNode::Configure::Fail);
  CallbackReturn code = CallbackReturn::SUCCESS;
  EXPECT_EQ(node.configure(code).id(), State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(code, CallbackReturn::FAILURE);
  EXPECT_EQ(node.calls, (std::vector<std::string>{"configure from unconfigured"}));
}

TEST(LifecycleTransitions, ExceptionInConfigureRunsErrorProcessing) {
  RecordingNode node(RecordingNode::Configure::Throw);
  CallbackReturn code = CallbackReturn::SUCCESS;
  testing::internal::CaptureStderr();
  const auto& state = node.configure(code);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, CallbackReturn::ERROR);
  EXPECT_EQ(state.id(), State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_NE(log.find("Caught exception in callback for transition 10"), std::string::npos) << log;
  EXPECT_NE(log.find("Original error: missing configuration file"), std::string::npos) << log;
  ASSERT_EQ(node.calls.size(), 2u);
  EXPECT_EQ(node.calls[1], "error from unconfigured while in errorprocessing");
  // After the failed configure, activation is refused.
  EXPECT_EQ(node.activate().id(), State::PRIMARY_STATE_UNCONFIGURED);
}

TEST(LifecyclePublisher, PublishesOnlyWhileActiveUnlessCalledThroughBase) {
  auto options = private_context_options();
  auto node = std::make_shared<rclcpp_lifecycle::LifecycleNode>("pub_node", options);
  int received = 0;
  auto sub = node->create_subscription<std_msgs::msg::Header>(
      "chatter", 10, [&](std::shared_ptr<const std_msgs::msg::Header>) { ++received; });
  auto pub = node->create_publisher<std_msgs::msg::Header>("chatter", 10);
  EXPECT_FALSE(pub->is_activated());

  testing::internal::CaptureStderr();
  pub->publish(std_msgs::msg::Header());
  pub->publish(std_msgs::msg::Header());
  const std::string log = testing::internal::GetCapturedStderr();
  const std::string warning =
      "Trying to publish message on the topic '/chatter', but the publisher is not activated";
  const auto first = log.find(warning);
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(warning, first + 1), std::string::npos) << "warned once only";

  // Through the base pointer the lifecycle state is not consulted.
  std::shared_ptr<rclcpp::Publisher<std_msgs::msg::Header>> base = pub;
  base->publish(std_msgs::msg::Header());

  node->configure();
  node->activate();
  EXPECT_TRUE(pub->is_activated());
  pub->publish(std_msgs::msg::Header());
  node->deactivate();
  EXPECT_FALSE(pub->is_activated());
  pub->publish(std_msgs::msg::Header());

  rclcpp::executors::SingleThreadedExecutor executor([&] {
    rclcpp::ExecutorOptions o;
    o.context = options.context();
    return o;
  }());
  executor.add_node(node->get_node_base_interface());
  executor.spin_some();
  EXPECT_EQ(received, 2);
}

TEST(LifecyclePublisher, WarnsAgainAfterEachDeactivation) {
  auto node =
      std::make_shared<rclcpp_lifecycle::LifecycleNode>("warn_node", private_context_options());
  auto pub = node->create_publisher<std_msgs::msg::Header>("status", 10);
  const std::string warning =
      "Trying to publish message on the topic '/status', but the publisher is not activated";
  auto count_warnings = [&](int publishes) {
    testing::internal::CaptureStderr();
    for (int i = 0; i < publishes; ++i) {
      pub->publish(std_msgs::msg::Header());
    }
    const std::string log = testing::internal::GetCapturedStderr();
    int count = 0;
    for (auto at = log.find(warning); at != std::string::npos; at = log.find(warning, at + 1)) {
      ++count;
    }
    return count;
  };
  EXPECT_EQ(count_warnings(3), 1);
  node->configure();
  node->activate();
  EXPECT_EQ(count_warnings(2), 0) << "an active publisher does not warn";
  node->deactivate();
  EXPECT_EQ(count_warnings(3), 1) << "deactivation re-arms the warning, once";
  EXPECT_EQ(count_warnings(1), 0);
}
