// Where the player's scans come from: one interface over simulated scenes, recorded bags, PCD
// sequences and decoded sensor sweeps.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "lidar_sim/simulated_frame.hpp"

namespace scan_player {

// One scan and what goes with it. A source fills `cloud`, `custom` or both; the player converts
// to the form the topic needs.
struct ScanFrame {
  std::int64_t stamp_ns{0};
  std::shared_ptr<sensor_msgs::msg::PointCloud2> cloud;
  std::shared_ptr<livox_ros_driver2::msg::CustomMsg> custom;
  // Published on /tf just before the scan (the robot's map pose at and around the scan).
  std::vector<geometry_msgs::msg::TransformStamped> transforms;
  // The simulator's ground truth of this frame; empty for recorded data.
  std::shared_ptr<const lidar_sim::SimulatedFrame> truth;
};

// The robot standing still at a fixed place in the map, for data without a pose.
struct PlanarPose {
  double x{0.0};
  double y{0.0};
  double yaw{0.0};  // radians
};

class ScanSource {
 public:
  virtual ~ScanSource() = default;

  // One line for progress and summaries ("scenario office_crossing, 200 frames").
  virtual std::string describe() const = 0;
  // Transforms for /tf_static, sent once before the first scan (the lidar mount).
  virtual std::vector<geometry_msgs::msg::TransformStamped> staticTransforms() const = 0;
  // Number of scans, when known in advance.
  virtual std::optional<std::size_t> frameCount() const = 0;
  // Fills `frame` with the next scan and returns true, or returns false after the last one.
  // Throws std::runtime_error (or a subclass) naming the file and what was wrong.
  virtual bool next(ScanFrame& frame) = 0;
};

// map -> base_footprint at `stamp_ns` for a robot standing at `pose`.
geometry_msgs::msg::TransformStamped fixedPoseTransform(
    const PlanarPose& pose, std::int64_t stamp_ns, const std::string& map_frame = "map",
    const std::string& base_frame = "base_footprint");

}  // namespace scan_player
