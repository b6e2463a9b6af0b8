#include "tf2_ros/transform_listener.h"

#include <atomic>

#include "tf2_ros/static_transform_broadcaster.h"
#include "tf2_ros/transform_broadcaster.h"

namespace tf2_ros {
namespace {

std::string private_node_name() {
  static std::atomic<unsigned> counter{0};
  return "transform_listener_impl_" + std::to_string(counter.fetch_add(1));
}

}  // namespace

TransformListener::TransformListener(tf2::BufferCore& buffer, bool spin_thread)
    : buffer_(buffer),
      optional_default_node_(std::make_shared<rclcpp::Node>(
          private_node_name(), rclcpp::NodeOptions().start_parameter_services(false))) {
  init(*optional_default_node_, spin_thread, DynamicListenerQoS(), StaticListenerQoS(),
       rclcpp::SubscriptionOptions(), rclcpp::SubscriptionOptions());
}

TransformListener::~TransformListener() {
  if (executor_ != nullptr) {
    executor_->cancel();
  }
  if (dedicated_listener_thread_.joinable()) {
    dedicated_listener_thread_.join();
  }
}

void TransformListener::start_thread(
    const rclcpp::node_interfaces::NodeBaseInterface::SharedPtr& node_base) {
  rclcpp::ExecutorOptions options;
  options.context = node_base->get_context();
  executor_ = std::make_shared<rclcpp::executors::SingleThreadedExecutor>(options);
  executor_->add_callback_group(callback_group_, node_base);
  dedicated_listener_thread_ = std::thread([executor = executor_] { executor->spin(); });
}

void TransformListener::subscription_callback(
    const std::shared_ptr<const tf2_msgs::msg::TFMessage>& msg, bool is_static) {
  const std::string authority = "Authority undetectable";
  for (const auto& transform : msg->transforms) {
    try {
      buffer_.setTransform(transform, authority, is_static);
    } catch (const tf2::TransformException& ex) {
      RCLCPP_ERROR(rclcpp::get_logger("tf2_listener"),
                   "Failure to set received transform from %s to %s with error: %s\n",
                   transform.child_frame_id.c_str(), transform.header.frame_id.c_str(), ex.what());
    }
  }
}

void StaticTransformBroadcaster::sendTransform(
    const geometry_msgs::msg::TransformStamped& transform) {
  sendTransform(std::vector<geometry_msgs::msg::TransformStamped>{transform});
}

void StaticTransformBroadcaster::sendTransform(
    const std::vector<geometry_msgs::msg::TransformStamped>& transforms) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& input : transforms) {
    bool replaced = false;
    for (auto& stored : net_message_.transforms) {
      if (stored.child_frame_id == input.child_frame_id) {
        stored = input;
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      net_message_.transforms.push_back(input);
    }
  }
  // Published under the lock so that concurrent senders publish complete sets in order.
  publisher_->publish(net_message_);
}

void TransformBroadcaster::sendTransform(const geometry_msgs::msg::TransformStamped& transform) {
  sendTransform(std::vector<geometry_msgs::msg::TransformStamped>{transform});
}

void TransformBroadcaster::sendTransform(
    const std::vector<geometry_msgs::msg::TransformStamped>& transforms) {
  tf2_msgs::msg::TFMessage message;
  message.transforms = transforms;
  publisher_->publish(message);
}

}  // namespace tf2_ros
