// param and lifecycle verbs against nodes of the same process: the tool's node and the target
// share a context, so the requests go through rclcpp's service layer end to end.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "rclcpp/executors.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp_lifecycle/lifecycle_node.hpp"
#include "ros2cli/lifecycle_commands.hpp"
#include "ros2cli/parameter_commands.hpp"

namespace {

using namespace std::chrono_literals;
using CallbackReturn = rclcpp_lifecycle::LifecycleNode::CallbackReturn;

class ServiceCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = std::make_shared<rclcpp::Context>();
    context_->init(0, nullptr);
    const auto options = rclcpp::NodeOptions().context(context_);
    target_ = std::make_shared<rclcpp::Node>("tuned", options);
    target_->declare_parameter("count", 3);
    target_->declare_parameter("gain", 0.2);
    target_->declare_parameter("frame", std::string("map"));
    // Refuses negative gains, so that a failed set has a reason to show.
    handle_ = target_->add_on_set_parameters_callback(
        [](const std::vector<rclcpp::Parameter>& parameters) {
          rcl_interfaces::msg::SetParametersResult result;
          result.successful = true;
          for (const auto& p : parameters) {
            if (p.get_name() == "gain" && p.as_double() < 0) {
              result.successful = false;
              result.reason = "gain must not be negative";
            }
          }
          return result;
        });
    lifecycle_ = std::make_shared<rclcpp_lifecycle::LifecycleNode>("managed", options);
    rclcpp::ExecutorOptions executor_options;
    executor_options.context = context_;
    executor_ = std::make_shared<rclcpp::executors::SingleThreadedExecutor>(executor_options);
    executor_->add_node(target_);
    executor_->add_node(lifecycle_->get_node_base_interface());
    thread_ = std::thread([this] { executor_->spin(); });
    tool_ = std::make_shared<rclcpp::Node>("_ros2cli", options);
  }

  void TearDown() override {
    executor_->cancel();
    thread_.join();
    context_->shutdown("test over");
  }

  // Runs `verb` with fresh output streams; returns the exit status.
  template <typename Verb>
  int call(Verb verb, std::chrono::milliseconds timeout = 5s) {
    out_.str("");
    err_.str("");
    const ros2cli::ServiceCommandContext context{tool_, timeout, out_, err_};
    return verb(context);
  }

  rclcpp::Context::SharedPtr context_;
  rclcpp::Node::SharedPtr target_;
  rclcpp::Node::OnSetParametersCallbackHandle::SharedPtr handle_;
  rclcpp_lifecycle::LifecycleNode::SharedPtr lifecycle_;
  rclcpp::Node::SharedPtr tool_;
  std::shared_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread thread_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(ServiceCommands, ParamListGetAndSet) {
  using namespace ros2cli;
  ASSERT_EQ(call([](auto& c) { return listParameters(c, "tuned"); }), 0) << err_.str();
  const std::string listed = out_.str();
  for (const char* name : {"  count\n", "  frame\n", "  gain\n"}) {
    EXPECT_NE(listed.find(name), std::string::npos) << listed;
  }
  EXPECT_LT(listed.find("  count\n"), listed.find("  gain\n"));

  ASSERT_EQ(call([](auto& c) { return getParameter(c, "/tuned", "count"); }), 0);
  EXPECT_EQ(out_.str(), "Integer value is: 3\n");
  ASSERT_EQ(call([](auto& c) { return getParameter(c, "tuned", "gain"); }), 0);
  EXPECT_EQ(out_.str(), "Double value is: 0.2\n");
  EXPECT_EQ(call([](auto& c) { return getParameter(c, "tuned", "absent"); }), 1);
  EXPECT_EQ(err_.str(), "Parameter not set.\n");
  EXPECT_EQ(out_.str(), "");

  ASSERT_EQ(call([](auto& c) { return setParameter(c, "tuned", "gain", "0.75"); }), 0);
  EXPECT_EQ(out_.str(), "Set parameter successful\n");
  EXPECT_DOUBLE_EQ(target_->get_parameter("gain").as_double(), 0.75);

  EXPECT_EQ(call([](auto& c) { return setParameter(c, "tuned", "gain", "-1.0"); }), 1);
  EXPECT_EQ(out_.str(), "Setting parameter failed: gain must not be negative\n");
  EXPECT_DOUBLE_EQ(target_->get_parameter("gain").as_double(), 0.75);

  // A string where an integer was declared is refused by the node, with its reason.
  EXPECT_EQ(call([](auto& c) { return setParameter(c, "tuned", "count", "many"); }), 1);
  EXPECT_EQ(out_.str().rfind("Setting parameter failed", 0), 0u) << out_.str();
  EXPECT_EQ(target_->get_parameter("count").as_int(), 3);
}

TEST_F(ServiceCommands, UnknownNodeIsNotFound) {
  using namespace ros2cli;
  EXPECT_EQ(call([](auto& c) { return getParameter(c, "ghost", "x"); }, 300ms), 1);
  EXPECT_EQ(err_.str(), "Node not found\n");
  EXPECT_EQ(call([](auto& c) { return getLifecycleState(c, "ghost"); }, 300ms), 1);
  EXPECT_EQ(err_.str(), "Node not found\n");
}

TEST_F(ServiceCommands, LifecycleGetAndSetByLabelAndId) {
  using namespace ros2cli;
  ASSERT_EQ(call([](auto& c) { return getLifecycleState(c, "managed"); }), 0) << err_.str();
  EXPECT_EQ(out_.str(), "unconfigured [1]\n");
  ASSERT_EQ(call([](auto& c) { return setLifecycleState(c, "managed", "configure"); }), 0);
  EXPECT_EQ(out_.str(), "Transitioning successful\n");
  EXPECT_EQ(lifecycle_->get_current_state().label(), "inactive");
  // 3 is activate's transition id in lifecycle_msgs.
  ASSERT_EQ(call([](auto& c) { return setLifecycleState(c, "/managed", "3"); }), 0);
  ASSERT_EQ(call([](auto& c) { return getLifecycleState(c, "managed"); }), 0);
  EXPECT_EQ(out_.str(), "active [3]\n");
  EXPECT_EQ(call([](auto& c) { return setLifecycleState(c, "managed", "configure"); }), 1);
  EXPECT_NE(err_.str().find("Unknown transition requested, available ones are:"),
            std::string::npos);
  EXPECT_NE(err_.str().find("- deactivate [4]"), std::string::npos) << err_.str();
}

}  // namespace
