// One simulated lidar scan with its ground truth.
//
// The cloud and the per-point vectors are parallel: entry i of every vector belongs to point i.
// Points are in the lidar frame at the moment each was measured (no motion compensation), in the
// order they were measured, so offset_time_ns never decreases. The frame owns its data; the
// cloud is shared so that it can be handed to PCL code without a copy.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <Eigen/Geometry>

#include <cstdint>
#include <vector>

#include "lidar_sim/ground_truth.hpp"
#include "lidar_sim/scenario.hpp"

namespace lidar_sim {

struct SimulatedFrame {
  std::uint32_t index{0};
  // ROS time of the frame's first possible beam, nanoseconds; offsets count from here.
  std::int64_t stamp_ns{0};
  std::int64_t duration_ns{100'000'000};
  FrameIds frame_ids;

  pcl::PointCloud<pcl::PointXYZI>::Ptr cloud{new pcl::PointCloud<pcl::PointXYZI>};
  std::vector<std::uint32_t> offset_time_ns;  // after stamp_ns
  std::vector<std::uint8_t> line;             // ring (spinning) or laser (rosette) index
  std::vector<PointLabel> labels;
  std::vector<std::uint16_t> object_ids;  // kGroundObjectId for the floor

  // Boxes of the scene objects (walls, furniture, pillars, agents) in the base frame at stamp_ns.
  std::vector<ObjectBox> boxes;

  Eigen::Isometry3d map_to_base{Eigen::Isometry3d::Identity()};  // robot pose at stamp_ns
  // Robot pose at stamp_ns + duration_ns, for interpolating the pose of a single point.
  Eigen::Isometry3d map_to_base_end{Eigen::Isometry3d::Identity()};
  Eigen::Isometry3d base_to_lidar{Eigen::Isometry3d::Identity()};  // static mount

  std::size_t size() const { return cloud->size(); }
  // Time of the last point, or of the stamp when the scan is empty.
  std::int64_t lastPointStampNs() const {
    return offset_time_ns.empty() ? stamp_ns : stamp_ns + offset_time_ns.back();
  }
  // Throws std::logic_error when the per-point vectors and the cloud differ in length.
  void checkConsistent() const;
};

}  // namespace lidar_sim
