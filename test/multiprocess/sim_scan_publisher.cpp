// Publishes a simulated scenario the way a robot does: the lidar mount on /tf_static once, then
// per frame the robot pose on /tf and the scan as PointCloud2, at a fixed rate.
//
//   sim_scan_publisher SCENARIO_YAML FRAMES RATE_HZ [SCAN_TOPIC]
//
// Scans start once a subscriber is matched on the scan topic (up to 60 s), so that the first
// frames are not sent into an empty graph.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>

#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_broadcaster.h>
#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "lidar_sim/frame_messages.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"

namespace {

int run(const std::string& scenario_path, uint32_t frames, double rate_hz,
        const std::string& scan_topic) {
  lidar_sim::LidarSimulator simulator(lidar_sim::loadScenario(scenario_path));
  auto node = std::make_shared<rclcpp::Node>("sim_scan_publisher");
  auto scans = node->create_publisher<sensor_msgs::msg::PointCloud2>(scan_topic, rclcpp::QoS(5));
  tf2_ros::StaticTransformBroadcaster mount(node);
  tf2_ros::TransformBroadcaster poses(node);

  const lidar_sim::SimulatedFrame first = simulator.simulateFrame(0);
  mount.sendTransform(lidar_sim::mountTransform(first));

  const auto match_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (rclcpp::ok() && scans->get_subscription_count() == 0) {
    if (std::chrono::steady_clock::now() > match_deadline) {
      std::fprintf(stderr, "sim_scan_publisher: no subscriber on %s within 60 s\n",
                   scan_topic.c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  const auto period = std::chrono::duration<double>(1.0 / rate_hz);
  auto next = std::chrono::steady_clock::now();
  for (uint32_t k = 0; k < frames && rclcpp::ok(); ++k) {
    const lidar_sim::SimulatedFrame frame = simulator.simulateFrame(k);
    poses.sendTransform(lidar_sim::robotPoseTransform(frame));
    scans->publish(lidar_sim::toPointCloud2(frame));
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
    std::this_thread::sleep_until(next);
  }
  std::printf("sim_scan_publisher: published %u frames of %s on %s\n", frames,
              scenario_path.c_str(), scan_topic.c_str());
  std::fflush(stdout);
  // Late joiners still get the static mount while this process lives; the caller ends it.
  while (rclcpp::ok()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  const auto args = rclcpp::remove_ros_arguments(argc, argv);
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: %s SCENARIO_YAML FRAMES RATE_HZ [SCAN_TOPIC]\n",
                 args.empty() ? "sim_scan_publisher" : args[0].c_str());
    rclcpp::shutdown();
    return 2;
  }
  int status = 1;
  try {
    const double rate = std::stod(args[3]);
    if (!(rate > 0.0)) {
      throw std::invalid_argument("RATE_HZ must be > 0, got " + args[3]);
    }
    status = run(args[1], static_cast<uint32_t>(std::stoul(args[2])), rate,
                 args.size() > 4 ? args[4] : "/cloud_registered_body");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "sim_scan_publisher: %s\n", error.what());
  }
  rclcpp::shutdown();
  return status;
}
