// Per-camera obstacle contour and the process-wide registry of camera frames.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <corvanta_protocol/msg/semantic_point_cloud.hpp>

#include <Eigen/Core>

#include <memory>
#include <mutex>
#include <vector>

// The obstacle contour ("shape") of one virtual camera: for each azimuth bin of
// kAzimuthBinRad seen from the lidar, the obstacle point nearest to the lidar, in the base frame.
// A point counts as an obstacle when it lies more than kMinObstacleHeight above the floor
// (base z = 0); floor returns would otherwise make the contour hug the robot. Bins without an
// obstacle point are left out, so the contour lists only directions in which something was seen,
// in increasing azimuth from -pi to pi.
//
// Thread-safe: calculate and fillShapeToMsg may run on different threads; each call holds the
// frame's mutex for its duration.
class CameraFrame {
 public:
  static constexpr float kAzimuthBinRad = 0.017453292F;  // one degree
  static constexpr float kMinObstacleHeight = 0.05F;

  // `T_lidar2base` places the lidar (the contour's viewpoint) in the base frame.
  explicit CameraFrame(const Eigen::Matrix4f& T_lidar2base);

  // Recomputes the contour from `cloud` (base frame); non-finite points are skipped.
  void calculate(const pcl::PointCloud<pcl::PointXYZ>& cloud);

  // Replaces msg.shape with the latest contour (empty before the first calculate).
  void fillShapeToMsg(corvanta_protocol::msg::SemanticPointCloud& msg) const;

 private:
  struct ContourPoint {
    float x;
    float y;
    float z;
    float azimuth;
  };

  Eigen::Vector3f lidar_origin_;
  mutable std::mutex mutex_;
  // Guarded by mutex_: nearest squared distance and the index of that point in the cloud per
  // azimuth bin (scratch of calculate), and the contour.
  std::vector<float> bin_nearest_sq_;
  std::vector<std::size_t> bin_index_;
  std::vector<ContourPoint> contour_;
};

// The registry of camera frames, one per virtual camera index, shared by the whole process.
// Frames live until the process ends. All functions are thread-safe.
class CameraFrameInstance {
 public:
  CameraFrameInstance() = delete;

  // The frame of camera `index`, or an empty pointer when none was loaded.
  static std::shared_ptr<CameraFrame> get(int index);

  // Creates the frame of camera `index` with the lidar pose `T_lidar2base`. Returns true when it
  // created one; false, with an error line, for a negative index or a non-finite matrix, and
  // false when the index already has a frame (which is kept).
  static bool load(int index, const Eigen::Matrix4f& T_lidar2base);
};
