// Frame latency of the node on Livox-style scans arriving at 10 Hz, with and without post-fusion,
// and the detector's per-stage times. Scans (about 20k points each, the crowded_hall scenario)
// are published as the driver's CustomMsg on the in-process graph with the robot pose on TF;
// four virtual cameras cover the full circle; debug is off.
//
//   build/bench/node/post_fusion_latency_benchmark [frames]
//
// Latency is from the publication of a scan to the arrival of the frame's last output (the
// static obstacles of the last camera). A scan that arrives while the previous one is still being
// processed replaces the waiting one (the subscription keeps one): such frames are counted as
// dropped. No environment variable is needed or read for the engine's threading.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_broadcaster.h>

#include "3d_lidar_detect_node.hpp"
#include "detector_package_prefix.hpp"
#include "lidar_sim/frame_messages.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"
#include "logger.hpp"

#include "bench_program.hpp"

namespace {

using Steady = std::chrono::steady_clock;
using corvanta_protocol::msg::SemanticPointCloud;
using livox_ros_driver2::msg::CustomMsg;

// Collects "<stage> time: <x> ms.", "<stage>: <x> ms." and "<stage> cost time is <x> ms." values.
class StageTimes : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::map<std::string, std::vector<double>> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(times_);
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    static const std::regex kTiming(
        R"(\] (waitDetectorOutput|postfusion time|trelvon_\w+ cost time is|[a-z ]+ time):? )"
        R"(([0-9.eE+-]+) ?ms\.)");
    const std::string text(msg.payload.data(), msg.payload.size());
    std::smatch m;
    if (std::regex_search(text, m, kTiming)) {
      times_[m[1].str()].push_back(std::stod(m[2].str()));
    }
  }
  void flush_() override {}

 private:
  std::map<std::string, std::vector<double>> times_;
};

double percentile(std::vector<double> v, double q) {
  if (v.empty()) {
    return 0.0;
  }
  std::sort(v.begin(), v.end());
  const auto index = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(index, v.size() - 1)];
}

struct Frame {
  CustomMsg scan;
  geometry_msgs::msg::TransformStamped pose;
  int64_t output_stamp_ns;
};

int64_t stampNs(const builtin_interfaces::msg::Time& t) {
  return static_cast<int64_t>(t.sec) * 1000000000LL + t.nanosec;
}

struct RunResult {
  std::vector<double> latencies_ms;
  size_t sent = 0;
  size_t published = 0;
  std::map<std::string, std::vector<double>> stages;
};

constexpr int kCameras = 4;

RunResult runNode(const std::vector<Frame>& frames, bool post_fusion,
                  const std::shared_ptr<StageTimes>& stages) {
  std::vector<std::string> args{
      "post_fusion_latency_benchmark",
      "--ros-args",
      "-p",
      "debug:=false",
      "-p",
      "topic_type:=1",
      "-p",
      "virtual_cameras_num:=" + std::to_string(kCameras),
      "-p",
      std::string("post_fusion.enable:=") + (post_fusion ? "true" : "false")};
  for (int i = 0; i < kCameras; ++i) {
    const std::string p = "vir_cam_" + std::to_string(i) + ".";
    args.insert(args.end(),
                {"-p", p + "horizontal_start_pos:=" + std::to_string(90 * i - 45) + ".0", "-p",
                 p + "horizontal_end_pos:=" + std::to_string(90 * i + 45) + ".0"});
  }
  std::vector<const char*> argv;
  for (const auto& arg : args) {
    argv.push_back(arg.c_str());
  }
  rclcpp::init(static_cast<int>(argv.size()), argv.data());
  auto helper = std::make_shared<rclcpp::Node>("benchmark_feeder");
  tf2_ros::StaticTransformBroadcaster mount(helper);
  mount.sendTransform(lidar_sim::toTransformStamped(
      Eigen::Isometry3d(Eigen::Translation3d(0, 0, 0.3)), "base_footprint", "3d_lidar_link", 0));
  tf2_ros::TransformBroadcaster poses(helper);
  poses.sendTransform(frames.front().pose);

  RunResult result;
  std::mutex mutex;
  std::map<int64_t, Steady::time_point> sent_at;
  std::map<int64_t, int> outputs_of;
  auto recorder = helper->create_subscription<SemanticPointCloud>(
      "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(100),
      [&](SemanticPointCloud::ConstSharedPtr message) {
        const auto now = Steady::now();
        std::lock_guard<std::mutex> lock(mutex);
        const int64_t stamp = stampNs(message->header.stamp);
        // The last camera's static obstacles close the frame.
        if (++outputs_of[stamp] == kCameras) {
          const auto sent = sent_at.find(stamp);
          if (sent != sent_at.end()) {
            result.latencies_ms.push_back(
                std::chrono::duration<double, std::milli>(now - sent->second).count());
          }
        }
      });
  auto scans = helper->create_publisher<CustomMsg>("/cloud_registered_body", 1);

  auto node = std::make_shared<lidar_perception::LidarDetectNode>("lidar_detect_node");
  node->activate();
  auto executor = std::make_shared<rclcpp::executors::MultiThreadedExecutor>(
      rclcpp::ExecutorOptions(), 3, true, std::chrono::nanoseconds(-1));
  executor->add_node(node->get_node_base_interface(), true);
  executor->add_node(helper);
  std::thread spinner([&] { executor->spin(); });

  stages->take();
  auto next = Steady::now();
  for (const Frame& frame : frames) {
    std::this_thread::sleep_until(next);
    next += std::chrono::milliseconds(100);
    poses.sendTransform(frame.pose);
    {
      std::lock_guard<std::mutex> lock(mutex);
      sent_at[frame.output_stamp_ns] = Steady::now();
    }
    scans->publish(frame.scan);
    ++result.sent;
  }
  // Let the last frame finish.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  {
    std::lock_guard<std::mutex> lock(mutex);
    result.published = result.latencies_ms.size();
  }
  result.stages = stages->take();
  rclcpp::shutdown();
  spinner.join();
  executor.reset();
  node.reset();
  recorder.reset();
  helper.reset();
  return result;
}

void report(const char* title, const RunResult& r) {
  const auto fused = r.stages.find("postfusion time");
  std::printf("%s: %zu scans sent at 10 Hz, %zu processed, %zu dropped, %zu fused with boxes\n",
              title, r.sent, r.published, r.sent - r.published,
              fused == r.stages.end() ? size_t{0} : fused->second.size());
  std::printf("  frame latency  median %.1f ms, p99 %.1f ms, max %.1f ms\n",
              percentile(r.latencies_ms, 0.5), percentile(r.latencies_ms, 0.99),
              percentile(r.latencies_ms, 1.0));
  std::printf("  stage medians (ms):");
  for (const auto& [stage, values] : r.stages) {
    std::printf(" %s %.2f;", stage.c_str(), percentile(values, 0.5));
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (bench::helpRequested(argc, argv,
                           "usage: post_fusion_latency_benchmark [FRAMES]\n"
                           "  frame latency (scan in -> outputs published) with and without "
                           "post-fusion over FRAMES\n  Livox-style scans at 10 Hz (default 100, "
                           "at least 10), and the detector's stage times\n")) {
    return 0;
  }
  bench::useBuildTreePackagePrefix(BUILD_TREE_PACKAGE_PREFIX);
  const int frame_count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100;
  setenv("SPDLOG_STDOUT", "false", 1);
  auto stages = std::make_shared<StageTimes>();
  corvanta::Logger::Instance().logger_->sinks().push_back(stages);
  // The shipped detector configuration with stage timing on and the build's network.
  lidar_perception::DetectorPackagePrefix prefix(
      CONFIG_DIR, DETECTOR_MODEL, [](YAML::Node& root) { root["enable_timer"] = true; });

  lidar_sim::Scenario scenario =
      lidar_sim::loadScenario(std::string(SCENARIO_DIR) + "/crowded_hall.yaml");
  lidar_sim::LidarSimulator simulator(scenario);
  std::vector<Frame> frames;
  size_t points = 0;
  size_t fewest = SIZE_MAX;
  size_t most = 0;
  for (int k = 0; k < frame_count; ++k) {
    const auto simulated = simulator.simulateFrame(static_cast<uint32_t>(k));
    Frame frame{lidar_sim::toCustomMsg(simulated), geometry_msgs::msg::TransformStamped(), 0};
    frame.output_stamp_ns = stampNs(frame.scan.header.stamp) +
                            static_cast<int64_t>(frame.scan.points.back().offset_time);
    // The node stamps a CustomMsg frame with its last point and looks the pose up at that time,
    // which lies between this pose and the previous frame's.
    frame.pose = lidar_sim::toTransformStamped(simulated.map_to_base_end, "map", "base_footprint",
                                               simulated.stamp_ns + simulated.duration_ns);
    points += frame.scan.points.size();
    fewest = std::min(fewest, frame.scan.points.size());
    most = std::max(most, frame.scan.points.size());
    frames.push_back(std::move(frame));
  }
  std::printf("%d Livox-style scans of %zu to %zu points (mean %zu), %d cameras, debug off\n",
              frame_count, fewest, most, points / frames.size(), kCameras);
  report("post-fusion off", runNode(frames, false, stages));
  report("post-fusion on", runNode(frames, true, stages));
  return 0;
}
