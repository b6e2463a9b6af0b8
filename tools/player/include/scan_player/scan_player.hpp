// Publishes scans the way a robot does: the lidar mount on /tf_static once, then per scan the
// robot pose on /tf and the scan on the lidar topic, paced by the scans' stamps.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_broadcaster.h>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "scan_player/scan_source.hpp"

namespace scan_player {

struct PlayerOptions {
  std::string scan_topic{"/cloud_registered_body"};
  // As the node's parameter of the same name: 0 publishes PointCloud2, anything else the Livox
  // CustomMsg.
  int topic_type{0};
  // 1 plays in real time, 2 twice as fast; 0 as fast as frames can be made.
  double rate{1.0};
  // Waits for Enter on standard input before each scan.
  bool step{false};
};

class ScanPlayer {
 public:
  // Publishers are made on `node`; the scan topic keeps 5 scans (reliable), as a driver does.
  ScanPlayer(const rclcpp::Node::SharedPtr& node, const PlayerOptions& options);

  // Sends the source's static transforms on /tf_static (transient local: late joiners get them).
  void sendStaticTransforms(const ScanSource& source);

  // Reads the next scan of `source`, waits until it is due (or for Enter in step mode), then
  // publishes its transforms and the scan, converted to the topic's type when needed. Returns
  // false at the end of the source or once the context was shut down (Ctrl-C).
  bool playNext(ScanSource& source, ScanFrame& frame);

  // The steps of playNext, for callers that note each scan before it goes out: fills the form
  // the topic needs (throws std::invalid_argument for a cloud that cannot be converted), waits
  // until the scan is due (false once the context was shut down or input ended in step mode),
  // publishes.
  void prepare(ScanFrame& frame) const;
  bool waitUntilDue(std::int64_t stamp_ns);
  void publish(const ScanFrame& frame);
  // The stamp a node reading the topic gives its outputs: the header stamp of a PointCloud2, the
  // last point's time of a CustomMsg.
  std::int64_t outputStampNs(const ScanFrame& frame) const;

  std::size_t scanSubscriptionCount() const;
  std::uint64_t scansPublished() const { return published_; }

 private:
  PlayerOptions options_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Publisher<sensor_msgs::msg::PointCloud2>::SharedPtr cloud_pub_;
  rclcpp::Publisher<livox_ros_driver2::msg::CustomMsg>::SharedPtr custom_pub_;
  std::shared_ptr<tf2_ros::TransformBroadcaster> poses_;
  std::shared_ptr<tf2_ros::StaticTransformBroadcaster> statics_;
  std::optional<std::int64_t> first_stamp_ns_;
  std::chrono::steady_clock::time_point first_wall_;
  std::uint64_t published_{0};
};

}  // namespace scan_player
