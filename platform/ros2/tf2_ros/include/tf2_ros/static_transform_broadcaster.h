// Publishes static transforms on /tf_static.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "rclcpp/node.hpp"
#include "rclcpp/publisher.hpp"
#include "tf2_ros/qos.hpp"

namespace tf2_ros {

// Keeps the latest transform per child frame and republishes the whole set on every send,
// on a transient-local topic, so that late listeners receive every static frame. The
// publisher is a plain rclcpp publisher, also on a lifecycle node. Thread-safe.
class StaticTransformBroadcaster {
 public:
  template <class NodeT, class AllocatorT = std::allocator<void>>
  StaticTransformBroadcaster(NodeT&& node, const rclcpp::QoS& qos = StaticBroadcasterQoS(),
                             const rclcpp::PublisherOptionsWithAllocator<AllocatorT>& options =
                                 rclcpp::PublisherOptionsWithAllocator<AllocatorT>()) {
    rclcpp::detail::NodeCommon& common = *node;
    publisher_ = common.create_publisher<tf2_msgs::msg::TFMessage>("/tf_static", qos, options);
  }

  void sendTransform(const geometry_msgs::msg::TransformStamped& transform);
  void sendTransform(const std::vector<geometry_msgs::msg::TransformStamped>& transforms);

 private:
  std::mutex mutex_;
  tf2_msgs::msg::TFMessage net_message_;  // guarded by mutex_
  rclcpp::Publisher<tf2_msgs::msg::TFMessage>::SharedPtr publisher_;
};

}  // namespace tf2_ros
