// Fills a tf2 buffer from /tf and /tf_static.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <utility>

#include <tf2_msgs/msg/tf_message.hpp>

#include "rclcpp/executors/single_threaded_executor.hpp"
#include "rclcpp/logging.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/subscription_options.hpp"
#include "tf2/buffer_core.h"
#include "tf2_ros/qos.hpp"

namespace tf2_ros {

// Subscribes /tf (volatile) and /tf_static (transient local) on the given node and stores
// every received transform in the buffer. With `spin_thread` the subscriptions live in a
// callback group of their own, not added to the node's executor, served by a
// single-threaded executor on a thread this object owns: transforms arrive even before the
// node spins. The destructor stops and joins that thread. The node must outlive the
// listener; the buffer too.
class TransformListener {
 public:
  // Creates a private node for the subscriptions.
  explicit TransformListener(tf2::BufferCore& buffer, bool spin_thread = true);

  // `node` is a raw or shared pointer to an rclcpp::Node or rclcpp_lifecycle::LifecycleNode.
  template <class NodeT, class AllocatorT = std::allocator<void>>
  TransformListener(tf2::BufferCore& buffer, NodeT&& node, bool spin_thread = true,
                    const rclcpp::QoS& qos = DynamicListenerQoS(),
                    const rclcpp::QoS& static_qos = StaticListenerQoS(),
                    const rclcpp::SubscriptionOptionsWithAllocator<AllocatorT>& options =
                        rclcpp::SubscriptionOptionsWithAllocator<AllocatorT>(),
                    const rclcpp::SubscriptionOptionsWithAllocator<AllocatorT>& static_options =
                        rclcpp::SubscriptionOptionsWithAllocator<AllocatorT>())
      : buffer_(buffer) {
    init(*node, spin_thread, qos, static_qos, options, static_options);
  }

  virtual ~TransformListener();
  TransformListener(const TransformListener&) = delete;
  TransformListener& operator=(const TransformListener&) = delete;

 private:
  template <class NodeCommonT, class AllocatorT>
  void init(NodeCommonT& node, bool spin_thread, const rclcpp::QoS& qos,
            const rclcpp::QoS& static_qos,
            rclcpp::SubscriptionOptionsWithAllocator<AllocatorT> options,
            rclcpp::SubscriptionOptionsWithAllocator<AllocatorT> static_options) {
    rclcpp::detail::NodeCommon& common = node;
    if (spin_thread) {
      callback_group_ =
          common.create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, false);
      options.callback_group = callback_group_;
      static_options.callback_group = callback_group_;
    }
    message_subscription_tf_ = common.create_subscription<tf2_msgs::msg::TFMessage>(
        "/tf", qos,
        [this](std::shared_ptr<const tf2_msgs::msg::TFMessage> msg) {
          subscription_callback(msg, false);
        },
        options);
    message_subscription_tf_static_ = common.create_subscription<tf2_msgs::msg::TFMessage>(
        "/tf_static", static_qos,
        [this](std::shared_ptr<const tf2_msgs::msg::TFMessage> msg) {
          subscription_callback(msg, true);
        },
        static_options);
    buffer_.setUsingDedicatedThread(true);
    if (spin_thread) {
      start_thread(common.get_node_base_interface());
    }
  }

  void start_thread(const rclcpp::node_interfaces::NodeBaseInterface::SharedPtr& node_base);
  void subscription_callback(const std::shared_ptr<const tf2_msgs::msg::TFMessage>& msg,
                             bool is_static);

  tf2::BufferCore& buffer_;
  rclcpp::Node::SharedPtr optional_default_node_;
  rclcpp::CallbackGroup::SharedPtr callback_group_;
  rclcpp::Subscription<tf2_msgs::msg::TFMessage>::SharedPtr message_subscription_tf_;
  rclcpp::Subscription<tf2_msgs::msg::TFMessage>::SharedPtr message_subscription_tf_static_;
  std::shared_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread dedicated_listener_thread_;
};

}  // namespace tf2_ros
