// One request to a service of another node, answered within a deadline or not at all.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "rclcpp/executors.hpp"
#include "rclcpp/node.hpp"

namespace ros2cli {

// "talker" and "/talker" both name the node "/talker".
inline std::string fullyQualifiedNodeName(const std::string& name) {
  return !name.empty() && name.front() == '/' ? name : "/" + name;
}

// Sends `request` to `service` from `node` and waits, spinning `node` in an executor of its
// context, until the reply comes or `timeout` passes. nullptr when no server was found or no
// reply came in time.
template <typename ServiceT>
std::shared_ptr<typename ServiceT::Response> callService(
    const rclcpp::Node::SharedPtr& node, const std::string& service,
    std::shared_ptr<typename ServiceT::Request> request, std::chrono::milliseconds timeout) {
  auto client = node->create_client<ServiceT>(service);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (!client->wait_for_service(timeout)) {
    return nullptr;
  }
  auto pending = client->async_send_request(request);
  rclcpp::ExecutorOptions options;
  options.context = node->get_node_base_interface()->get_context();
  rclcpp::executors::SingleThreadedExecutor executor(options);
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  const auto code = rclcpp::executors::spin_node_until_future_complete(
      executor, node, pending.future, std::max(left, std::chrono::milliseconds(1)));
  if (code != rclcpp::FutureReturnCode::SUCCESS) {
    client->remove_pending_request(pending.request_id);
    return nullptr;
  }
  return pending.future.get();
}

}  // namespace ros2cli
