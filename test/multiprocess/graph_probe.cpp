// Prints the ROS 2 graph as the real rclcpp sees it: node names, then topics with their types,
// after listening for discovery. Built against a real ROS 2 to check what another
// implementation announces.
//
//   graph_probe [SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <rclcpp/rclcpp.hpp>

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  const auto args = rclcpp::remove_ros_arguments(argc, argv);
  const double seconds = args.size() > 1 ? std::strtod(args[1].c_str(), nullptr) : 2.0;
  auto node = std::make_shared<rclcpp::Node>("graph_probe");
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  for (const std::string& name : node->get_node_names()) {
    std::printf("node %s\n", name.c_str());
  }
  for (const auto& [topic, types] : node->get_topic_names_and_types()) {
    for (const std::string& type : types) {
      std::printf("topic %s %s\n", topic.c_str(), type.c_str());
    }
  }
  rclcpp::shutdown();
  return 0;
}
