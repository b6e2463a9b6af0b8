// The node in a process of its own, fed simulated scans over DDS by this program and watched by a
// third process: prints the latency from a scan's publication to the arrival of the node's
// semantic obstacles for it, per cloud size.
//
//   build/bench/node/cross_process_latency_benchmark [--points N]... [--frames N] [--rate HZ]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "bench_program.hpp"
#include "lidar_sim/frame_messages.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"
#include "rclcpp/rclcpp.hpp"
#include "tf2_ros/static_transform_broadcaster.h"
#include "tf2_ros/transform_broadcaster.h"

namespace {

using corvanta_protocol::msg::SemanticPointCloud;

constexpr const char* kUsage =
    "usage: cross_process_latency_benchmark [--points N]... [--frames N] [--rate HZ]\n"
    "  Runs lidar_obstacle_detector in its own process with the shipped parameters, publishes\n"
    "  --frames (default 100) simulated 360-degree scans of about N points (default 20000 and\n"
    "  100000) at --rate (default 10) Hz, and prints the latency from each scan's publication to\n"
    "  the arrival of the node's semantic obstacles in a third process.\n";
constexpr const char* kOutputTopic = "/livox/virtual_camera0_semantic_static_obstacles";

std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t stamp_ns(const builtin_interfaces::msg::Time& t) {
  return std::int64_t{t.sec} * 1000000000 + t.nanosec;
}

double percentile(std::vector<double> values, double q) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

// The third process: reports (scan stamp, arrival time) pairs through `out`.
int run_receiver(int out) {
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("latency_receiver");
  auto sub = node->create_subscription<SemanticPointCloud>(
      kOutputTopic, rclcpp::QoS(10), [out](const SemanticPointCloud& message) {
        const std::int64_t pair[2] = {stamp_ns(message.header.stamp), now_ns()};
        if (write(out, pair, sizeof(pair)) != sizeof(pair)) {
          rclcpp::shutdown();
        }
      });
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}

struct Recorded {
  sensor_msgs::msg::PointCloud2 scan;
  Eigen::Isometry3d pose;
};

// Scans of office_crossing from a spinning 32-ring sensor whose azimuth step gives about
// `points` beams per turn.
std::vector<Recorded> simulate(std::size_t points, int frames, Eigen::Isometry3d& mount) {
  lidar_sim::Scenario scenario =
      lidar_sim::loadScenario(std::string(SCENARIO_DIR) + "/office_crossing.yaml");
  const Eigen::Isometry3d scenario_mount = scenario.lidar.mount;
  scenario.lidar = lidar_sim::lidarPreset("spinning32");
  scenario.lidar.mount = scenario_mount;
  scenario.lidar.azimuth_step = 2.0 * M_PI * static_cast<double>(
                                                  scenario.lidar.vertical_angles.size()) /
                                static_cast<double>(points);
  mount = scenario.lidar.mount;
  lidar_sim::LidarSimulator simulator(scenario);
  std::vector<Recorded> recorded;
  for (int k = 0; k < frames; ++k) {
    const auto frame = simulator.simulateFrame(static_cast<std::uint32_t>(k));
    recorded.push_back({lidar_sim::toPointCloud2(frame), frame.map_to_base});
  }
  return recorded;
}

void measure(std::size_t points, int frames, double rate) {
  Eigen::Isometry3d mount;
  const std::vector<Recorded> recorded = simulate(points, frames, mount);
  int results[2];
  if (pipe(results) != 0) {
    std::perror("cross_process_latency_benchmark: pipe");
    return;
  }
  // Both children start before this process has any threads of its own.
  const pid_t node_pid = fork();
  if (node_pid == 0) {
    close(results[0]);
    close(results[1]);
    // The node's per-frame log lines would drown the figures; its warnings and errors stay.
    setenv("SPDLOG_LEVEL", "warning", 1);
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) {
      dup2(quiet, STDOUT_FILENO);  // its start-up banner
      close(quiet);
    }
    execl(NODE_PROGRAM, NODE_PROGRAM, "--ros-args", "--params-file", NODE_PARAMS, "-p",
          "debug:=false", "--log-level", "warn", static_cast<char*>(nullptr));
    _exit(127);
  }
  const pid_t receiver_pid = fork();
  if (receiver_pid == 0) {
    close(results[0]);
    _exit(run_receiver(results[1]));
  }
  close(results[1]);

  rclcpp::init(0, nullptr);
  auto feeder = std::make_shared<rclcpp::Node>("latency_feeder");
  tf2_ros::StaticTransformBroadcaster statics(feeder);
  statics.sendTransform(lidar_sim::toTransformStamped(mount, "base_footprint", "3d_lidar_link", 0));
  tf2_ros::TransformBroadcaster poses(feeder);
  auto scans = feeder->create_publisher<sensor_msgs::msg::PointCloud2>("/cloud_registered_body",
                                                                       rclcpp::QoS(5));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (scans->get_subscription_count() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The node is configured and active once it subscribes; give its TF listener a moment.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::map<std::int64_t, bool> sent;
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / rate));
  auto next = std::chrono::steady_clock::now();
  std::size_t total_points = 0;
  for (const Recorded& r : recorded) {
    std::this_thread::sleep_until(next);
    next += period;
    const std::int64_t stamp = now_ns();
    poses.sendTransform(lidar_sim::toTransformStamped(r.pose, "map", "base_footprint", stamp));
    sensor_msgs::msg::PointCloud2 scan = r.scan;
    scan.header.stamp = lidar_sim::toTimeMsg(stamp);
    total_points += scan.width * scan.height;
    scans->publish(scan);
    sent[stamp] = true;
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  kill(receiver_pid, SIGINT);
  kill(node_pid, SIGINT);
  std::vector<double> latencies;
  std::int64_t pair[2];
  while (read(results[0], pair, sizeof(pair)) == sizeof(pair)) {
    if (sent.count(pair[0]) != 0) {
      latencies.push_back(static_cast<double>(pair[1] - pair[0]) / 1e6);
    }
  }
  close(results[0]);
  int status = 0;
  waitpid(receiver_pid, &status, 0);
  waitpid(node_pid, &status, 0);
  rclcpp::shutdown();
  std::printf("%10zu %10.0f %8zu/%-6d %10.2f %10.2f %10.2f\n", points,
              static_cast<double>(total_points) / static_cast<double>(recorded.size()),
              latencies.size(), frames, percentile(latencies, 0.5), percentile(latencies, 0.95),
              percentile(latencies, 0.99));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (bench::helpRequested(argc, argv, kUsage)) {
    return 0;
  }
  std::vector<std::size_t> sizes;
  int frames = 100;
  double rate = 10.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--points") {
      sizes.push_back(std::strtoul(argv[i + 1], nullptr, 10));
    } else if (arg == "--frames") {
      frames = std::atoi(argv[i + 1]);
    } else if (arg == "--rate") {
      rate = std::strtod(argv[i + 1], nullptr);
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (sizes.empty()) {
    sizes = {20000, 100000};
  }
  if (frames <= 0 || rate <= 0.0 ||
      std::any_of(sizes.begin(), sizes.end(), [](std::size_t n) { return n < 1000; })) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  bench::useBuildTreePackagePrefix(BUILD_TREE_PACKAGE_PREFIX);
  std::printf("cross_process_latency_benchmark: scans at %.0f Hz, publication -> semantic "
              "obstacles in a third process\n",
              rate);
  std::printf("%10s %10s %15s %10s %10s %10s\n", "beams", "points", "outputs", "p50 ms",
              "p95 ms", "p99 ms");
  for (std::size_t points : sizes) {
    measure(points, frames, rate);
  }
  return 0;
}
