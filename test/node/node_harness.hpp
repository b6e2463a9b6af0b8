// Runs a LidarDetectNode in-process the way the program does, with a second node that provides
// the transforms, feeds scans and records every output, and captures the logger's lines.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/sinks/base_sink.h>

#include <tf2_ros/static_transform_broadcaster.h>
#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "3d_lidar_detect_node.hpp"
#include "logger.hpp"

namespace lidar_perception {

// Reads the node's private configuration results.
class LidarDetectNodeTestPeer {
 public:
  explicit LidarDetectNodeTestPeer(LidarDetectNode& node) : node_(node) {}
  const LidarDetectNode& node() const { return node_; }
  const norvel::perception::GroundRemovalParams& groundParams() const {
    return node_.remove_ground_params_;
  }
  bool paramsUpdated() const { return node_.params_updated_; }
  size_t count(const std::string& list) const {
    const std::map<std::string, size_t> sizes{
        {"semantic_obstacles", node_.semantic_obstacles_pubs_.size()},
        {"obstacles", node_.obstacles_pubs_.size()},
        {"semantic_static", node_.semantic_static_obstacles_pubs_.size()},
        {"static", node_.static_obstacles_pubs_.size()},
        {"semantic_dynamic", node_.semantic_dynamic_obstacles_pubs_.size()},
        {"dynamic", node_.dynamic_obstacles_pubs_.size()},
        {"base", node_.base_cloud_pubs_.size()},
        {"elevated", node_.elevated_cloud_pubs_.size()},
        {"ground", node_.ground_cloud_pubs_.size()},
        {"camera_info", node_.camera_info_pubs_.size()},
        {"frustum", node_.frustum_cloud_pubs_.size()},
        {"split", node_.split_cloud_pubs_.size()},
        {"detectors", node_.dynamic_cloud_detectors_.size()},
        {"sensor_infos", node_.dynamic_cloud_detector_sensor_infos_.size()},
        {"configs", node_.virtual_camera_configs_.size()},
        {"cloud_sub", node_.cloud_sub_ ? 1u : 0u},
        {"custom_sub", node_.custom_cloud_sub_ ? 1u : 0u},
    };
    return sizes.at(list);
  }
  const LidarDetectNode& get() const { return node_; }
  float xLarge() const { return node_.x_large_; }
  int32_t lidarId() const { return node_.lidar_id_; }
  bool debug() const { return node_.debug_; }
  const std::vector<std::shared_ptr<VirtualCameraConfig>>& configs() const {
    return node_.virtual_camera_configs_;
  }
  const std::vector<VirtualCameraParam>& params() const { return node_.virtual_cameras_param_; }
  const norvel::perception::CloudClusterPara& clusterPara() const { return node_.cluster_para_; }
  const norvel::perception::DynamicCloudDetectorConfig& dynamicDetectorConfig(size_t n) const {
    return node_.dynamic_cloud_detectors_.at(n)->config();
  }
  bool detectorThreadStarted() const { return node_.detector_thread_ != nullptr; }

 private:
  LidarDetectNode& node_;
};

// Collects the logger's output lines for inspection, safely while other threads log.
class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<LineSink>()) {
    corvanta::Logger::Instance().logger_->sinks().push_back(sink_);
  }
  ~LogCapture() {
    auto& sinks = corvanta::Logger::Instance().logger_->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
  }
  // Lines with the counter and level prefix removed ("  7 [INFO] text" -> "text").
  std::vector<std::string> lines() const { return sink_->lines(); }
  size_t countOf(const std::string& text) const {
    const auto all = lines();
    return static_cast<size_t>(std::count(all.begin(), all.end(), text));
  }
  bool containsPrefix(const std::string& prefix) const {
    for (const auto& line : lines()) {
      if (line.rfind(prefix, 0) == 0) {
        return true;
      }
    }
    return false;
  }
  void clear() { sink_->clear(); }
  // Lines logged at error level or above, prefixes removed as in lines().
  std::vector<std::string> errorLines() const { return sink_->errorLines(); }
  // True when an error line contains every one of `parts`.
  bool hasErrorWith(const std::vector<std::string>& parts) const {
    for (const auto& line : errorLines()) {
      bool all = true;
      for (const auto& part : parts) {
        all = all && line.find(part) != std::string::npos;
      }
      if (all) {
        return true;
      }
    }
    return false;
  }

 private:
  class LineSink : public spdlog::sinks::base_sink<std::mutex> {
   public:
    std::vector<std::string> lines() const {
      std::lock_guard<std::mutex> lock(lines_mutex_);
      return lines_;
    }
    void clear() {
      std::lock_guard<std::mutex> lock(lines_mutex_);
      lines_.clear();
      error_lines_.clear();
    }
    std::vector<std::string> errorLines() const {
      std::lock_guard<std::mutex> lock(lines_mutex_);
      return error_lines_;
    }

   protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
      std::string line(msg.payload.data(), msg.payload.size());
      const size_t tag_end = line.find("] ");
      if (tag_end != std::string::npos) {
        line.erase(0, tag_end + 2);
      }
      std::lock_guard<std::mutex> lock(lines_mutex_);
      if (msg.level >= spdlog::level::err) {
        error_lines_.push_back(line);
      }
      lines_.push_back(std::move(line));
    }
    void flush_() override {}

   private:
    mutable std::mutex lines_mutex_;
    std::vector<std::string> lines_;
    std::vector<std::string> error_lines_;
  };
  std::shared_ptr<LineSink> sink_;
};

// Records the messages that arrive on one topic.
template <typename MessageT>
class Recorder {
 public:
  Recorder(rclcpp::Node& node, const std::string& topic, const rclcpp::QoS& qos) {
    subscription_ = node.create_subscription<MessageT>(
        topic, qos, [this](typename MessageT::ConstSharedPtr message) {
          std::lock_guard<std::mutex> lock(mutex_);
          messages_.push_back(*message);
          arrived_.notify_all();
        });
  }
  std::vector<MessageT> messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // Waits until at least `count` messages arrived or `timeout` passed.
  bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return messages_.size() >= count; });
  }

 private:
  typename rclcpp::Subscription<MessageT>::SharedPtr subscription_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<MessageT> messages_;
};

inline geometry_msgs::msg::TransformStamped makeTransform(const std::string& parent,
                                                          const std::string& child, double x,
                                                          double y, double z, double yaw = 0.0) {
  geometry_msgs::msg::TransformStamped tf;
  tf.header.frame_id = parent;
  tf.child_frame_id = child;
  tf.transform.translation.x = x;
  tf.transform.translation.y = y;
  tf.transform.translation.z = z;
  tf.transform.rotation.z = std::sin(yaw / 2.0);
  tf.transform.rotation.w = std::cos(yaw / 2.0);
  return tf;
}

// One process-like run: init with ROS arguments, TF provider, the node under test and an executor
// spinning both on three threads, torn down in reverse.
class NodeHarness {
 public:
  // `ros_args` are the arguments after --ros-args, e.g. {"-p", "debug:=false"}.
  explicit NodeHarness(const std::vector<std::string>& ros_args, bool provide_map_pose = true) {
    std::vector<std::string> args{"lidar_obstacle_detector", "--ros-args"};
    args.insert(args.end(), ros_args.begin(), ros_args.end());
    std::vector<const char*> argv;
    for (const auto& arg : args) {
      argv.push_back(arg.c_str());
    }
    rclcpp::init(static_cast<int>(argv.size()), argv.data());
    helper_ = std::make_shared<rclcpp::Node>("test_harness");
    static_broadcaster_ = std::make_shared<tf2_ros::StaticTransformBroadcaster>(helper_);
    std::vector<geometry_msgs::msg::TransformStamped> transforms{
        makeTransform("base_footprint", "3d_lidar_link", 0.0, 0.0, 0.3)};
    if (provide_map_pose) {
      transforms.push_back(makeTransform("map", "base_footprint", 0.0, 0.0, 0.0));
    }
    static_broadcaster_->sendTransform(transforms);
    node_ = std::make_shared<LidarDetectNode>("lidar_detect_node");
    node_->activate();
    executor_ = std::make_shared<rclcpp::executors::MultiThreadedExecutor>(
        rclcpp::ExecutorOptions(), 3, true, std::chrono::nanoseconds(-1));
    executor_->add_node(node_->get_node_base_interface(), true);
    executor_->add_node(helper_);
    spinner_ = std::thread([this] { executor_->spin(); });
  }
  ~NodeHarness() {
    // Shutting the context down ends spin even when it had not started yet, which cancel alone
    // does not guarantee.
    rclcpp::shutdown(nullptr, "test finished");
    spinner_.join();
    executor_.reset();
    node_.reset();
    static_broadcaster_.reset();
    helper_.reset();
  }
  LidarDetectNode& node() { return *node_; }
  std::shared_ptr<LidarDetectNode> nodePtr() { return node_; }
  rclcpp::Node& helper() { return *helper_; }
  std::shared_ptr<rclcpp::Node> helperPtr() { return helper_; }
  LidarDetectNodeTestPeer peer() { return LidarDetectNodeTestPeer(*node_); }

 private:
  std::shared_ptr<rclcpp::Node> helper_;
  std::shared_ptr<tf2_ros::StaticTransformBroadcaster> static_broadcaster_;
  std::shared_ptr<LidarDetectNode> node_;
  std::shared_ptr<rclcpp::executors::MultiThreadedExecutor> executor_;
  std::thread spinner_;
};

}  // namespace lidar_perception
