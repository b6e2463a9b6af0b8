// Prepares simulated scans the way the node prepares each virtual camera's cloud, keeping every
// point's ground truth beside it.
#pragma once

#include <lidar_sim/simulated_frame.hpp>
#include <norvel/perception/camera_info.hpp>
#include <norvel/perception/point_cloud_types.hpp>

#include <Eigen/Core>

#include <cstdint>
#include <vector>

namespace perception_bench {

// Ground truth of one prepared point.
struct PointTruth {
  lidar_sim::PointLabel label;
  std::uint16_t object_id;
  bool moving;  // on an agent whose box moves faster than 0.1 m/s
  bool wall;    // on one of the building's walls
};

// One virtual camera's cloud in the base frame with its truth, entry by entry.
struct CameraCloud {
  norvel::perception::PointCloudPtr cloud = std::make_shared<norvel::perception::PointCloud>();
  std::vector<PointTruth> truth;
};

// The node's virtual camera with the given azimuth limits (radians) and default image: 1280 x
// 800, upper elevation limit 52 degrees; lidar-to-base from the mount.
norvel::perception::CameraInfo makeCamera(float azimuth_start, float azimuth_end,
                                          const Eigen::Matrix4f& lidar_to_base, int index);

// Base-frame transform, region of interest (|x|, |y| <= 5 m, z <= 0.666 m, robot body cut out),
// projection into `camera`, removal of the 60-degree cone around the lidar's up axis.
void prepareCameraCloud(const lidar_sim::SimulatedFrame& frame,
                        const norvel::perception::CameraInfo& camera, CameraCloud& out);

}  // namespace perception_bench
