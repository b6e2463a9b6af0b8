// Entry point of lidar_obstacle_detector: one lifecycle node on a three-thread executor.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include <rcutils/allocator.h>
#include <rclcpp/rclcpp.hpp>

#include "3d_lidar_detect_node.hpp"
#include "logger.hpp"

namespace {

constexpr const char* kUsage =
    "usage: lidar_obstacle_detector [--ros-args [--params-file FILE] [-p KEY:=VALUE ...]]\n"
    "  Lidar obstacle perception: one lifecycle node, \"lidar_detect_node\", configured entirely\n"
    "  by ROS parameters (the package's config/default_params/lidar_detect_node.yaml lists every\n"
    "  key at its default). It waits for the transform base_footprint -> 3d_lidar_link, then\n"
    "  processes every scan on lidar_topic. Ctrl-C ends it.\n";

// --help or -h before any ROS argument.
bool helpRequested(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--ros-args") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (helpRequested(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  rclcpp::InitOptions init_options(rcutils_get_default_allocator());
  rclcpp::init(argc, argv, init_options, rclcpp::SignalHandlerOptions::All);

  // Configuration runs inside the constructor, before any executor exists.
  auto node = std::make_shared<lidar_perception::LidarDetectNode>("lidar_detect_node");
  // Ctrl-C during configuration (while waiting for the first transform) ends it unconfigured,
  // and the context is shut down (or about to be): there is nothing to activate or spin.
  std::shared_ptr<rclcpp::executors::MultiThreadedExecutor> executor;
  if (rclcpp::ok() && node->configured()) {
    try {
      node->activate();
      executor = std::make_shared<rclcpp::executors::MultiThreadedExecutor>(
          rclcpp::ExecutorOptions(), 3, true, std::chrono::nanoseconds(-1));
      executor->add_node(node->get_node_base_interface(), true);
      executor->spin();
    } catch (const std::exception&) {
      // Ctrl-C just after the test above: the same orderly end. Anything else is a fault.
      if (rclcpp::ok()) {
        throw;
      }
    }
  }

  rclcpp::shutdown(nullptr, "user called rclcpp::shutdown()");
  LOG_INFO("node finishied");
  executor.reset();
  node.reset();
  return 0;
}
