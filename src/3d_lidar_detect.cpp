// Entry point of lidar_obstacle_detector: one lifecycle node on a three-thread executor.
#include <chrono>
#include <memory>

#include <rcutils/allocator.h>
#include <rclcpp/rclcpp.hpp>

#include "3d_lidar_detect_node.hpp"
#include "logger.hpp"

int main(int argc, char** argv) {
  rclcpp::InitOptions init_options(rcutils_get_default_allocator());
  rclcpp::init(argc, argv, init_options, rclcpp::SignalHandlerOptions::All);

  // Configuration runs inside the constructor, before any executor exists.
  auto node = std::make_shared<lidar_perception::LidarDetectNode>("lidar_detect_node");
  // Ctrl-C during configuration (while waiting for the first transform) ends the program here.
  if (rclcpp::ok()) {
    node->activate();
  }

  auto executor = std::make_shared<rclcpp::executors::MultiThreadedExecutor>(
      rclcpp::ExecutorOptions(), 3, true, std::chrono::nanoseconds(-1));
  executor->add_node(node->get_node_base_interface(), true);
  executor->spin();

  rclcpp::shutdown(nullptr, "user called rclcpp::shutdown()");
  LOG_INFO("node finishied");
  executor.reset();
  node.reset();
  return 0;
}
