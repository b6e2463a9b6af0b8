#pragma once

#include "rclcpp/executor.hpp"

namespace rclcpp {
namespace executors {

// Runs every callback on the thread that calls spin.
class SingleThreadedExecutor : public rclcpp::Executor {
 public:
  using SharedPtr = std::shared_ptr<SingleThreadedExecutor>;
  explicit SingleThreadedExecutor(
      const rclcpp::ExecutorOptions& options = rclcpp::ExecutorOptions())
      : rclcpp::Executor(options) {}
  // Blocks until cancel() or context shutdown. Throws std::runtime_error when already spinning.
  void spin() override;
};

}  // namespace executors
}  // namespace rclcpp
