#include "scan_player/scan_player.hpp"

#include <algorithm>
#include <iostream>
#include <string>
#include <thread>

#include "scan_player/scan_conversion.hpp"

namespace scan_player {

ScanPlayer::ScanPlayer(const rclcpp::Node::SharedPtr& node, const PlayerOptions& options)
    : options_(options), node_(node) {
  if (options_.topic_type == 0) {
    cloud_pub_ =
        node_->create_publisher<sensor_msgs::msg::PointCloud2>(options_.scan_topic, rclcpp::QoS(5));
  } else {
    custom_pub_ = node_->create_publisher<livox_ros_driver2::msg::CustomMsg>(options_.scan_topic,
                                                                             rclcpp::QoS(5));
  }
  poses_ = std::make_shared<tf2_ros::TransformBroadcaster>(node_);
  statics_ = std::make_shared<tf2_ros::StaticTransformBroadcaster>(node_);
}

void ScanPlayer::sendStaticTransforms(const ScanSource& source) {
  const auto transforms = source.staticTransforms();
  if (!transforms.empty()) {
    statics_->sendTransform(transforms);
  }
}

std::size_t ScanPlayer::scanSubscriptionCount() const {
  return cloud_pub_ ? cloud_pub_->get_subscription_count() : custom_pub_->get_subscription_count();
}

bool ScanPlayer::waitUntilDue(std::int64_t stamp_ns) {
  if (options_.step) {
    std::cout << "press Enter for the next scan" << std::flush;
    std::string line;
    return static_cast<bool>(std::getline(std::cin, line)) && rclcpp::ok();
  }
  if (!first_stamp_ns_) {
    first_stamp_ns_ = stamp_ns;
    first_wall_ = std::chrono::steady_clock::now();
  }
  if (options_.rate <= 0.0) {
    return rclcpp::ok();
  }
  // Stamps that jump backwards or far ahead (a bag of several recordings) are not waited for
  // more than a second.
  const double scan_offset_s =
      std::clamp(static_cast<double>(stamp_ns - *first_stamp_ns_) * 1e-9, 0.0, 1e9);
  const auto due = first_wall_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     std::chrono::duration<double>(scan_offset_s / options_.rate));
  const auto latest = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  const auto until = std::min(due, latest);
  while (rclcpp::ok() && std::chrono::steady_clock::now() < until) {
    const auto slice = std::min<std::chrono::steady_clock::duration>(
        until - std::chrono::steady_clock::now(), std::chrono::milliseconds(50));
    std::this_thread::sleep_for(slice);
  }
  if (due > latest) {
    // Re-anchor so that the scans after a gap keep their own spacing.
    first_stamp_ns_ = stamp_ns;
    first_wall_ = std::chrono::steady_clock::now();
  }
  return rclcpp::ok();
}

void ScanPlayer::prepare(ScanFrame& frame) const {
  if (cloud_pub_ && !frame.cloud) {
    frame.cloud = std::make_shared<sensor_msgs::msg::PointCloud2>(toPointCloud2(*frame.custom));
  }
  if (custom_pub_ && !frame.custom) {
    frame.custom = std::make_shared<livox_ros_driver2::msg::CustomMsg>(toCustomMsg(*frame.cloud));
  }
}

std::int64_t ScanPlayer::outputStampNs(const ScanFrame& frame) const {
  if (custom_pub_ && frame.custom) {
    const auto& stamp = frame.custom->header.stamp;
    const std::int64_t header_ns = static_cast<std::int64_t>(stamp.sec) * 1000000000LL +
                                   static_cast<std::int64_t>(stamp.nanosec);
    return frame.custom->points.empty() ? header_ns
                                        : header_ns + frame.custom->points.back().offset_time;
  }
  return frame.stamp_ns;
}

void ScanPlayer::publish(const ScanFrame& frame) {
  if (!frame.transforms.empty()) {
    poses_->sendTransform(frame.transforms);
  }
  if (cloud_pub_) {
    cloud_pub_->publish(*frame.cloud);
  } else {
    custom_pub_->publish(*frame.custom);
  }
  ++published_;
}

bool ScanPlayer::playNext(ScanSource& source, ScanFrame& frame) {
  if (!rclcpp::ok() || !source.next(frame)) {
    return false;
  }
  prepare(frame);
  if (!waitUntilDue(frame.stamp_ns)) {
    return false;
  }
  publish(frame);
  return true;
}

}  // namespace scan_player
