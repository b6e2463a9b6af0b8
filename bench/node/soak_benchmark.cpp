// Soak run: many simulated frames through the node in lockstep (each frame's outputs are awaited
// before the next scan goes out, so nothing waits on a wall clock), printing the process's
// resident memory and the frame latency at intervals, so that growth or drift shows.
//
//   build/bench/node/soak_benchmark [frames] [--post-fusion] [--every N] [--scenario NAME]
//
// Scans of one simulated run (200 frames of office_crossing by default) are replayed over and
// over with stamps that keep advancing; the robot pose jumps back at each replay, which the
// motion detector sees as a new scene. Latency is from publishing a scan to the arrival of its
// last obstacle message. The node's log goes nowhere (SPDLOG_STDOUT=false) so that logging does
// not dominate.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_broadcaster.h>

#include "3d_lidar_detect_node.hpp"
#include "bench_program.hpp"
#include "lidar_sim/frame_messages.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"

namespace {

using Steady = std::chrono::steady_clock;
using corvanta_protocol::msg::SemanticPointCloud;

constexpr const char* kUsage =
    "usage: soak_benchmark [frames] [--post-fusion] [--every N] [--scenario NAME]\n"
    "  Runs `frames` (default 100000) simulated scans through lidar_detect_node in lockstep and\n"
    "  prints, every N frames (default 5000): resident memory, frame latency median and p99,\n"
    "  frames without output. Run it from the repository root (the detector's model path in\n"
    "  trelvon.yaml is relative to it).\n";

double residentMb() {
  std::ifstream statm("/proc/self/statm");
  long pages_total = 0;
  long pages_resident = 0;
  statm >> pages_total >> pages_resident;
  return static_cast<double>(pages_resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

double percentile(std::vector<double> values, double q) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

struct Recorded {
  sensor_msgs::msg::PointCloud2 scan;
  Eigen::Isometry3d pose;
  Eigen::Isometry3d pose_end;
};

}  // namespace

int main(int argc, char** argv) {
  if (bench::helpRequested(argc, argv, kUsage)) {
    return 0;
  }
  bench::useBuildTreePackagePrefix(BUILD_TREE_PACKAGE_PREFIX);
  setenv("SPDLOG_STDOUT", "false", 0);
  setenv("SPDLOG_SYSTEMD", "false", 0);
  setenv("SPDLOG_LEVEL", "info", 0);
  long frames = 100000;
  long every = 5000;
  bool post_fusion = false;
  std::string scenario = "office_crossing";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--post-fusion") {
      post_fusion = true;
    } else if (arg == "--every" && i + 1 < argc) {
      every = std::max(1L, std::atol(argv[++i]));
    } else if (arg == "--scenario" && i + 1 < argc) {
      scenario = argv[++i];
    } else if (std::atol(arg.c_str()) > 0) {
      frames = std::atol(arg.c_str());
    } else {
      std::fprintf(stderr, "soak_benchmark: unknown argument %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }

  const lidar_sim::Scenario loaded =
      lidar_sim::loadScenario(std::string(SCENARIO_DIR) + "/" + scenario + ".yaml");
  lidar_sim::LidarSimulator simulator(loaded);
  std::vector<Recorded> recorded;
  std::printf("soak_benchmark: simulating %d frames of %s to replay\n", loaded.frames,
              scenario.c_str());
  std::fflush(stdout);
  for (int k = 0; k < loaded.frames; ++k) {
    const auto frame = simulator.simulateFrame(static_cast<std::uint32_t>(k));
    recorded.push_back({lidar_sim::toPointCloud2(frame), frame.map_to_base, frame.map_to_base_end});
  }
  const Eigen::Isometry3d mount = loaded.lidar.mount;

  std::vector<std::string> args{
      "soak_benchmark",
      "--ros-args",
      "-p",
      "debug:=false",
      "-p",
      std::string("post_fusion.enable:=") + (post_fusion ? "true" : "false")};
  std::vector<const char*> c_args;
  for (const auto& arg : args) {
    c_args.push_back(arg.c_str());
  }
  rclcpp::init(static_cast<int>(c_args.size()), c_args.data());
  auto feeder = std::make_shared<rclcpp::Node>("soak_feeder");
  tf2_ros::StaticTransformBroadcaster statics(feeder);
  statics.sendTransform(lidar_sim::toTransformStamped(mount, "base_footprint", "3d_lidar_link", 0));
  tf2_ros::TransformBroadcaster poses(feeder);

  std::mutex mutex;
  std::condition_variable arrived;
  std::int64_t last_output_stamp = -1;
  auto outputs = feeder->create_subscription<SemanticPointCloud>(
      "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(10),
      [&](SemanticPointCloud::ConstSharedPtr message) {
        std::lock_guard<std::mutex> lock(mutex);
        last_output_stamp = static_cast<std::int64_t>(message->header.stamp.sec) * 1000000000LL +
                            message->header.stamp.nanosec;
        arrived.notify_all();
      });
  auto scans = feeder->create_publisher<sensor_msgs::msg::PointCloud2>("/cloud_registered_body",
                                                                       rclcpp::QoS(1));
  auto node = std::make_shared<lidar_perception::LidarDetectNode>("lidar_detect_node");
  node->activate();
  rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 3);
  executor.add_node(node->get_node_base_interface());
  executor.add_node(feeder);
  std::thread spinner([&executor] { executor.spin(); });

  std::printf("soak_benchmark: %ld frames, post-fusion %s, a line every %ld frames\n", frames,
              post_fusion ? "on" : "off", every);
  std::printf("%10s %12s %12s %12s %10s\n", "frames", "rss MB", "median ms", "p99 ms", "no output");
  std::fflush(stdout);
  const std::int64_t t0 = 2000LL * 1000000000LL;
  const std::int64_t period = 100000000LL;
  std::vector<double> latencies;
  long missing = 0;
  double first_rss = 0.0;
  double first_median = 0.0;
  double last_rss = 0.0;
  double last_median = 0.0;
  for (long k = 0; k < frames && rclcpp::ok(); ++k) {
    const Recorded& r = recorded[static_cast<std::size_t>(k) % recorded.size()];
    const std::int64_t stamp = t0 + k * period;
    std::vector<geometry_msgs::msg::TransformStamped> pose{
        lidar_sim::toTransformStamped(r.pose, "map", "base_footprint", stamp),
        lidar_sim::toTransformStamped(r.pose_end, "map", "base_footprint", stamp + period - 1)};
    poses.sendTransform(pose);
    sensor_msgs::msg::PointCloud2 scan = r.scan;
    scan.header.stamp = lidar_sim::toTimeMsg(stamp);
    const auto sent = Steady::now();
    scans->publish(scan);
    std::unique_lock<std::mutex> lock(mutex);
    if (arrived.wait_for(lock, std::chrono::seconds(2),
                         [&] { return last_output_stamp == stamp; })) {
      latencies.push_back(std::chrono::duration<double, std::milli>(Steady::now() - sent).count());
    } else {
      ++missing;
    }
    lock.unlock();
    if ((k + 1) % every == 0 || k + 1 == frames) {
      const double rss = residentMb();
      const double median = percentile(latencies, 0.5);
      std::printf("%10ld %12.1f %12.3f %12.3f %10ld\n", k + 1, rss, median,
                  percentile(latencies, 0.99), missing);
      std::fflush(stdout);
      if (first_rss == 0.0) {
        first_rss = rss;
        first_median = median;
      }
      last_rss = rss;
      last_median = median;
      latencies.clear();
      missing = 0;
    }
  }
  std::printf(
      "soak_benchmark: resident memory %.1f MB after the first interval, %.1f MB at the "
      "end (%+.1f MB); median latency %.3f ms -> %.3f ms\n",
      first_rss, last_rss, last_rss - first_rss, first_median, last_median);
  executor.cancel();
  spinner.join();
  rclcpp::shutdown();
  return 0;
}
