// Publishes transforms on /tf.
#pragma once

#include <memory>
#include <vector>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "rclcpp/node.hpp"
#include "rclcpp/publisher.hpp"
#include "tf2_ros/qos.hpp"

namespace tf2_ros {

// Sends each call's transforms as one message on /tf. Thread-safe.
class TransformBroadcaster {
 public:
  template <class NodeT, class AllocatorT = std::allocator<void>>
  TransformBroadcaster(NodeT&& node, const rclcpp::QoS& qos = DynamicBroadcasterQoS(),
                       const rclcpp::PublisherOptionsWithAllocator<AllocatorT>& options =
                           rclcpp::PublisherOptionsWithAllocator<AllocatorT>()) {
    rclcpp::detail::NodeCommon& common = *node;
    publisher_ = common.create_publisher<tf2_msgs::msg::TFMessage>("/tf", qos, options);
  }

  void sendTransform(const geometry_msgs::msg::TransformStamped& transform);
  void sendTransform(const std::vector<geometry_msgs::msg::TransformStamped>& transforms);

 private:
  rclcpp::Publisher<tf2_msgs::msg::TFMessage>::SharedPtr publisher_;
};

}  // namespace tf2_ros
