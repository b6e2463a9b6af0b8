// A small lifecycle node written exactly as against rclcpp: it reads its parameters at
// configure, publishes a counter on a lifecycle publisher from a timer while active, echoes
// what it hears on its own subscription, and shuts the process down after `max_messages`
// (0: run until Ctrl-C).
#include <std_msgs/msg/header.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "rclcpp/rclcpp.hpp"
#include "rclcpp_lifecycle/lifecycle_node.hpp"

namespace example {

// Owns its publisher, subscription and timer; all are created in on_configure and released
// in on_cleanup. The timer and the subscription run in separate mutually exclusive groups.
class CounterNode : public rclcpp_lifecycle::LifecycleNode {
 public:
  using CallbackReturn = rclcpp_lifecycle::node_interfaces::LifecycleNodeInterface::CallbackReturn;

  CounterNode()
      : rclcpp_lifecycle::LifecycleNode(
            "example_counter",
            rclcpp::NodeOptions().automatically_declare_parameters_from_overrides(true)) {}

  CallbackReturn on_configure(const rclcpp_lifecycle::State&) override {
    int period_ms = 100;
    get_parameter("period_ms", period_ms);
    get_parameter("frame_id", frame_id_);
    get_parameter("max_messages", max_messages_);
    if (period_ms <= 0) {
      RCLCPP_ERROR(get_logger(), "period_ms must be > 0, got %d", period_ms);
      return CallbackReturn::FAILURE;
    }
    publisher_ = create_publisher<std_msgs::msg::Header>("counter", rclcpp::QoS(10));
    // The node holds its callback groups weakly, as rclcpp does: keep them alive here.
    subscription_group_ = create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive);
    timer_group_ = create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive);
    rclcpp::SubscriptionOptions options;
    options.callback_group = subscription_group_;
    subscription_ = create_subscription<std_msgs::msg::Header>(
        "counter", rclcpp::QoS(10),
        [this](std::shared_ptr<const std_msgs::msg::Header> msg) { on_message(*msg); }, options);
    timer_ = create_wall_timer(
        std::chrono::milliseconds(period_ms), [this] { tick(); }, timer_group_);
    parameter_handle_ =
        add_on_set_parameters_callback([this](const std::vector<rclcpp::Parameter>& parameters) {
          rcl_interfaces::msg::SetParametersResult result;
          result.successful = true;
          for (const auto& p : parameters) {
            RCLCPP_INFO(get_logger(), "parameter %s set to %s", p.get_name().c_str(),
                        p.value_to_string().c_str());
          }
          return result;
        });
    RCLCPP_INFO(get_logger(), "configured: period %d ms, frame '%s'", period_ms, frame_id_.c_str());
    return CallbackReturn::SUCCESS;
  }

  CallbackReturn on_cleanup(const rclcpp_lifecycle::State&) override {
    timer_.reset();
    subscription_.reset();
    timer_group_.reset();
    subscription_group_.reset();
    publisher_.reset();
    parameter_handle_.reset();
    return CallbackReturn::SUCCESS;
  }

 private:
  void tick() {
    std_msgs::msg::Header msg;
    msg.frame_id = frame_id_;
    msg.stamp = now();
    publisher_->publish(msg);  // dropped with a warning while inactive
  }

  void on_message(const std_msgs::msg::Header& msg) {
    const int count = ++received_;
    RCLCPP_INFO(get_logger(), "heard message %d from '%s'", count, msg.frame_id.c_str());
    if (max_messages_ > 0 && count == max_messages_) {
      rclcpp::shutdown(nullptr, "example finished");
    }
  }

  std::string frame_id_{"example"};
  int max_messages_{0};
  std::atomic<int> received_{0};
  rclcpp::CallbackGroup::SharedPtr subscription_group_;
  rclcpp::CallbackGroup::SharedPtr timer_group_;
  rclcpp_lifecycle::LifecyclePublisher<std_msgs::msg::Header>::SharedPtr publisher_;
  rclcpp::Subscription<std_msgs::msg::Header>::SharedPtr subscription_;
  rclcpp::TimerBase::SharedPtr timer_;
  OnSetParametersCallbackHandle::SharedPtr parameter_handle_;
};

}  // namespace example

int main(int argc, char** argv) {
  rclcpp::init(argc, argv, rclcpp::InitOptions(rcutils_get_default_allocator()),
               rclcpp::SignalHandlerOptions::All);
  auto node = std::make_shared<example::CounterNode>();
  node->configure();
  node->activate();
  auto executor = std::make_shared<rclcpp::executors::MultiThreadedExecutor>(
      rclcpp::ExecutorOptions(), 3, true, std::chrono::nanoseconds(-1));
  executor->add_node(node->get_node_base_interface(), true);
  executor->spin();
  rclcpp::shutdown(nullptr, "user called rclcpp::shutdown()");
  RCLCPP_INFO(node->get_logger(), "example finished in state %s",
              node->get_current_state().label().c_str());
  executor.reset();
  node.reset();
  return 0;
}
