// rclcpp::Node.
#pragma once

#include <memory>
#include <string>

#include "rclcpp/detail/node_common.hpp"

namespace rclcpp {

// A plain node: the shared node API (publishers, subscriptions, timers, parameters, ...)
// without a lifecycle. Create it with std::make_shared; executors hold it through its base
// interface.
class Node : public detail::NodeCommon, public std::enable_shared_from_this<Node> {
 public:
  using SharedPtr = std::shared_ptr<Node>;
  using ConstSharedPtr = std::shared_ptr<const Node>;
  using WeakPtr = std::weak_ptr<Node>;

  explicit Node(const std::string& node_name, const NodeOptions& options = NodeOptions())
      : Node(node_name, "", options) {}
  Node(const std::string& node_name, const std::string& namespace_,
       const NodeOptions& options = NodeOptions())
      : detail::NodeCommon(node_name, namespace_, options) {}

  template <typename... Args>
  static SharedPtr make_shared(Args&&... args) {
    return std::make_shared<Node>(std::forward<Args>(args)...);
  }
};

}  // namespace rclcpp
