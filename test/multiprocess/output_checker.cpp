// Receives lidar_obstacle_detector's outputs in a process of its own and checks them against the
// simulator's ground truth of the frames lidar_scan_player sent.
//
//   output_checker SCENARIO_YAML FRAMES MIN_FRAMES [TIMEOUT_S]
//
// Exits 0 once at least MIN_FRAMES frames (after the motion detector's warm-up) came back on both
// the dynamic and the static obstacle topics and the figures are sane; 1 otherwise.
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/output_truth.hpp"
#include "lidar_sim/scenario.hpp"

namespace {

using corvanta_protocol::msg::SemanticPointCloud;
using sensor_msgs::msg::CameraInfo;
using sensor_msgs::msg::PointCloud2;

// The motion detector compares each frame with its history (history_frames: 10 in the shipped
// dynamic_cloud_detector.yaml); before that history is full its split is not yet meaningful.
constexpr uint32_t kWarmUpFrames = 10;

int64_t stampNs(const builtin_interfaces::msg::Time& stamp) {
  return static_cast<int64_t>(stamp.sec) * 1000000000LL + stamp.nanosec;
}

class OutputChecker {
 public:
  OutputChecker(const std::string& scenario_path, uint32_t frames) {
    lidar_sim::LidarSimulator simulator(lidar_sim::loadScenario(scenario_path));
    for (uint32_t k = 0; k < frames; ++k) {
      frame_of_stamp_[simulator.frameStampNs(k)] = k;
      if (k >= kWarmUpFrames) {
        truth_.emplace(k, lidar_sim::TruthIndex(simulator.simulateFrame(k)));
      }
    }
    node_ = std::make_shared<rclcpp::Node>("output_checker");
    dynamic_sub_ = node_->create_subscription<SemanticPointCloud>(
        "/livox/virtual_camera0_semantic_dynamic_obstacles", rclcpp::QoS(100),
        [this](SemanticPointCloud::ConstSharedPtr m) { store(*m, dynamic_); });
    static_sub_ = node_->create_subscription<SemanticPointCloud>(
        "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(100),
        [this](SemanticPointCloud::ConstSharedPtr m) { store(*m, static_); });
    coloured_sub_ = node_->create_subscription<PointCloud2>(
        "/livox/virtual_camera0_dynamic_obstacles", rclcpp::SensorDataQoS(),
        [this](PointCloud2::ConstSharedPtr m) { count(m->header.stamp, coloured_); });
    base_sub_ = node_->create_subscription<PointCloud2>(
        "/livox/virtual_camera0_base_pointcloud", rclcpp::SensorDataQoS(),
        [this](PointCloud2::ConstSharedPtr m) { count(m->header.stamp, base_clouds_); });
    info_sub_ = node_->create_subscription<CameraInfo>(
        "virtual_camera_01_00_camera_info", rclcpp::QoS(10),
        [this](CameraInfo::ConstSharedPtr m) { count(m->header.stamp, camera_infos_); });
  }

  std::shared_ptr<rclcpp::Node> node() const { return node_; }

  bool enough(size_t min_frames) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return judged(dynamic_) >= min_frames && judged(static_) >= min_frames && coloured_ > 0 &&
           base_clouds_ > 0 && camera_infos_ > 0;
  }

  // Prints the figures and returns whether they are sane.
  bool evaluate(size_t min_frames) const {
    std::lock_guard<std::mutex> lock(mutex_);
    lidar_sim::TruthCounts on_dynamic;
    lidar_sim::TruthCounts on_static;
    size_t frames_judged = 0;
    for (const auto& [frame, truth] : truth_) {
      const auto d = dynamic_.find(frame);
      const auto s = static_.find(frame);
      if (d == dynamic_.end() || s == static_.end()) {
        continue;
      }
      lidar_sim::countTruths(d->second, truth, on_dynamic);
      lidar_sim::countTruths(s->second, truth, on_static);
      ++frames_judged;
    }
    const auto quality = lidar_sim::splitQuality(on_dynamic, on_static);
    std::printf(
        "output_checker: frames received dynamic %zu, static %zu, coloured %zu, base %zu, camera "
        "info %zu; stamps of no sent frame %zu\n",
        dynamic_.size(), static_.size(), coloured_, base_clouds_, camera_infos_, unknown_stamps_);
    std::printf(
        "output_checker: %zu frames judged: dynamic precision %.3f, static precision %.3f, "
        "walking-people recall %.3f, points of no scan %zu\n",
        frames_judged, quality.dynamic_precision, quality.static_precision, quality.moving_recall,
        on_dynamic.unmatched + on_static.unmatched);
    bool sane = true;
    auto require = [&sane](bool condition, const char* what) {
      if (!condition) {
        std::printf("output_checker: FAILED: %s\n", what);
        sane = false;
      }
    };
    require(frames_judged >= min_frames, "too few frames came back on both obstacle topics");
    require(unknown_stamps_ == 0, "an output carries the stamp of no scan that was sent");
    require(on_dynamic.unmatched + on_static.unmatched == 0,
            "an obstacle point is no scan point moved into the base frame");
    require(on_dynamic.total() > 100 && on_static.total() > 100, "too few obstacle points");
    require(quality.dynamic_precision > 0.9, "walls and furniture published as dynamic");
    require(quality.static_precision > 0.85, "walking people published as static");
    require(quality.moving_recall > 0.7, "walking people not found dynamic");
    return sane;
  }

 private:
  size_t judged(const std::map<uint32_t, SemanticPointCloud>& received) const {
    size_t n = 0;
    for (const auto& entry : received) {
      n += entry.first >= kWarmUpFrames ? 1 : 0;
    }
    return n;
  }
  const uint32_t* frameOf(const builtin_interfaces::msg::Time& stamp) const {
    const auto it = frame_of_stamp_.find(stampNs(stamp));
    return it == frame_of_stamp_.end() ? nullptr : &it->second;
  }
  void store(const SemanticPointCloud& message, std::map<uint32_t, SemanticPointCloud>& into) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const uint32_t* frame = frameOf(message.header.stamp)) {
      into[*frame] = message;
    } else {
      ++unknown_stamps_;
    }
  }
  void count(const builtin_interfaces::msg::Time& stamp, size_t& counter) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frameOf(stamp) != nullptr) {
      ++counter;
    } else {
      ++unknown_stamps_;
    }
  }

  std::map<int64_t, uint32_t> frame_of_stamp_;
  std::map<uint32_t, lidar_sim::TruthIndex> truth_;
  std::shared_ptr<rclcpp::Node> node_;
  rclcpp::Subscription<SemanticPointCloud>::SharedPtr dynamic_sub_;
  rclcpp::Subscription<SemanticPointCloud>::SharedPtr static_sub_;
  rclcpp::Subscription<PointCloud2>::SharedPtr coloured_sub_;
  rclcpp::Subscription<PointCloud2>::SharedPtr base_sub_;
  rclcpp::Subscription<CameraInfo>::SharedPtr info_sub_;

  mutable std::mutex mutex_;  // guards everything below
  std::map<uint32_t, SemanticPointCloud> dynamic_;
  std::map<uint32_t, SemanticPointCloud> static_;
  size_t coloured_ = 0;
  size_t base_clouds_ = 0;
  size_t camera_infos_ = 0;
  size_t unknown_stamps_ = 0;
};

int run(const std::string& scenario_path, uint32_t frames, size_t min_frames, double timeout_s) {
  OutputChecker checker(scenario_path, frames);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(checker.node());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
  std::printf("output_checker: listening\n");
  std::fflush(stdout);
  while (rclcpp::ok() && !checker.enough(min_frames) &&
         std::chrono::steady_clock::now() < deadline) {
    executor.spin_some(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const bool sane = checker.evaluate(min_frames);
  std::fflush(stdout);
  return sane ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  const auto args = rclcpp::remove_ros_arguments(argc, argv);
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: %s SCENARIO_YAML FRAMES MIN_FRAMES [TIMEOUT_S]\n",
                 args.empty() ? "output_checker" : args[0].c_str());
    rclcpp::shutdown();
    return 2;
  }
  int status = 1;
  try {
    status = run(args[1], static_cast<uint32_t>(std::stoul(args[2])), std::stoul(args[3]),
                 args.size() > 4 ? std::stod(args[4]) : 90.0);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "output_checker: %s\n", error.what());
  }
  rclcpp::shutdown();
  return status;
}
