// Scans recorded elsewhere: a ROS 2 bag, a folder of PCD files, the VLP-16 sweep Debian ships.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bag_io/bag_reader.hpp"
#include "scan_player/scan_source.hpp"

namespace scan_player {

// Where the lidar sits on the robot: base_footprint -> the scans' frame. Angles in degrees.
struct MountPose {
  std::array<double, 3> xyz{0.0, 0.0, 0.3};
  std::array<double, 3> rpy_deg{0.0, 0.0, 0.0};
};

geometry_msgs::msg::TransformStamped mountTransform(
    const MountPose& mount, const std::string& lidar_frame,
    const std::string& base_frame = "base_footprint");

// The map pose of a robot that does not move, for data recorded without one: the pose at the
// first scan's stamp and, with each scan, one second ahead of it, so that a lookup at any point's
// time within a scan (a Livox frame is stamped by its last point) finds poses on both sides.
class FixedPoseTrack {
 public:
  explicit FixedPoseTrack(const PlanarPose& pose) : pose_(pose) {}
  void appendFor(std::int64_t stamp_ns,
                 std::vector<geometry_msgs::msg::TransformStamped>& transforms);

 private:
  PlanarPose pose_;
  std::int64_t last_stamp_ns_{-1};
};

struct BagSourceOptions {
  // The scan topic; empty picks the bag's only PointCloud2 or CustomMsg topic.
  std::string scan_topic;
  // Used when the bag has no /tf; without it such a bag is refused.
  std::optional<PlanarPose> fixed_pose;
  // Used when the bag has no /tf_static; without it such a bag is refused.
  std::optional<MountPose> mount;
};

// A rosbag2 bag (sqlite3 folder or .db3, or .mcap) played in log-time order: /tf_static is read
// up front, /tf messages go out with the next scan. A message that does not decode is reported on
// stderr with its topic and log time and skipped.
class BagSource : public ScanSource {
 public:
  // Throws bag_io::BagError for an unreadable bag and std::runtime_error naming the bag and what
  // it lacks (no scan topic, several candidates, no /tf and no fixed pose, no /tf_static and no
  // mount).
  BagSource(const std::string& path, const BagSourceOptions& options);

  std::string describe() const override;
  std::vector<geometry_msgs::msg::TransformStamped> staticTransforms() const override {
    return static_transforms_;
  }
  std::optional<std::size_t> frameCount() const override { return frame_count_; }
  bool next(ScanFrame& frame) override;

  const std::string& scanTopic() const { return scan_topic_; }
  std::size_t skippedMessages() const { return skipped_; }

 private:
  bool decodeScan(const bag_io::BagMessage& message, ScanFrame& frame);
  void skip(const bag_io::BagMessage& message, const std::string& reason);

  std::string path_;
  std::unique_ptr<bag_io::BagReader> reader_;
  std::string scan_topic_;
  bool scan_is_custom_{false};
  bool has_tf_{false};
  std::optional<FixedPoseTrack> fixed_pose_;
  std::vector<geometry_msgs::msg::TransformStamped> static_transforms_;
  std::optional<std::size_t> frame_count_;
  std::size_t skipped_{0};
};

// A folder of .pcd files, played in file-name order, `period_s` apart, stamped from 1000 s on, in
// `lidar_frame`, with a robot standing at `pose`.
class PcdSource : public ScanSource {
 public:
  // Throws std::runtime_error naming the folder when it holds no .pcd file.
  PcdSource(const std::string& folder, double period_s, const MountPose& mount,
            const PlanarPose& pose, const std::string& lidar_frame = "3d_lidar_link");

  std::string describe() const override;
  std::vector<geometry_msgs::msg::TransformStamped> staticTransforms() const override;
  std::optional<std::size_t> frameCount() const override { return files_.size(); }
  // Throws std::runtime_error naming a file PCL cannot read.
  bool next(ScanFrame& frame) override;

 private:
  std::string folder_;
  std::vector<std::string> files_;
  std::size_t next_index_{0};
  std::int64_t period_ns_;
  MountPose mount_;
  FixedPoseTrack pose_;
  std::string lidar_frame_;
};

// The real VLP-16 sweep of Debian's mrpt-common (or another recording of VLP-16 packets),
// decoded once and played `frames` times, 0.1 s apart, with its mount 2.25 m above the ground.
class Vlp16SweepSource : public ScanSource {
 public:
  // Throws std::runtime_error naming the file when it cannot be read or holds no packets.
  Vlp16SweepSource(const std::string& rawlog, std::uint32_t frames);

  std::string describe() const override;
  std::vector<geometry_msgs::msg::TransformStamped> staticTransforms() const override;
  std::optional<std::size_t> frameCount() const override { return frames_; }
  bool next(ScanFrame& frame) override;

 private:
  std::string rawlog_;
  sensor_msgs::msg::PointCloud2 sweep_;
  std::size_t points_{0};
  std::uint32_t frames_;
  std::uint32_t next_index_{0};
  FixedPoseTrack pose_{PlanarPose{}};
};

}  // namespace scan_player
