// Per-point stages of the frame pipeline, free of ROS: region of interest, camera split, up-cone
// removal and the dynamic/static share rule.
#pragma once

#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <Eigen/Core>

#include "virtual_camera.hpp"

namespace lidar_perception {

// The region kept around the robot, in the base frame.
struct RegionOfInterest {
  float x_large;        // half length, metres
  float y_large;        // half width, metres
  float max_height;     // highest z kept, metres
  float x_small_front;  // robot body: front x
  float x_small_back;   // robot body: rear x (negative)
  float y_small;        // robot body: half width
};

// True when `p` is finite, no higher than the limit, inside the square and not on the robot's
// body. Points with x exactly 0 are never on the body. Inline: it runs for every point of every
// scan.
inline bool insideRegionOfInterest(const pcl::PointXYZ& p, const RegionOfInterest& roi) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
    return false;
  }
  if (p.z > roi.max_height || std::fabs(p.x) > roi.x_large || std::fabs(p.y) > roi.y_large) {
    return false;
  }
  const bool on_body = std::fabs(p.y) < roi.y_small && ((p.x > 0.0f && p.x < roi.x_small_front) ||
                                                        (p.x < 0.0f && p.x > roi.x_small_back));
  return !on_body;
}

// Writes `transform` applied to every point of `in` into `out` (same layout and header), in one
// pass without first copying the input. Non-finite coordinates make the whole point non-finite.
void transformCloud(const pcl::PointCloud<pcl::PointXYZ>& in, const Eigen::Matrix4f& transform,
                    pcl::PointCloud<pcl::PointXYZ>& out);

// Appends to `out`, in order, the points with index in [begin, end) of `in` moved by `transform`
// that land inside the region (see insideRegionOfInterest): the move and the cut in one pass, so
// that a scan's part can be done on each core and no whole moved copy of the scan is made.
void appendTransformedPointsInRegionOfInterest(const pcl::PointCloud<pcl::PointXYZ>& in,
                                               std::size_t begin, std::size_t end,
                                               const Eigen::Matrix4f& transform,
                                               const RegionOfInterest& roi,
                                               pcl::PointCloud<pcl::PointXYZ>& out);

// Appends to `out` every point of `in` that projects into the camera's image (bounds inclusive,
// points behind the camera rejected), keeping base-frame coordinates. `base2cam` maps base
// coordinates into the camera's optical frame.
void appendPointsInCamera(const pcl::PointCloud<pcl::PointXYZ>& in, const Eigen::Matrix4f& base2cam,
                          const VirtualCameraParam& param, pcl::PointCloud<pcl::PointXYZ>& out);

// Appends to `out` the points of `in` lying outside the solid cone around the lidar's up axis
// with half angle `threshold_deg`; the cone's apex and axis come from `lidar2base`. A point at the
// apex counts as 90 degrees off the axis.
void appendPointsOutsideUpCone(const pcl::PointCloud<pcl::PointXYZ>& in,
                               const Eigen::Matrix4f& lidar2base, float threshold_deg,
                               pcl::PointCloud<pcl::PointXYZ>& out);

// Sorts one cluster by the share r of its points the motion detector marked dynamic: the whole
// cluster goes to the dynamic list when r > dynamic_ratio, to the static list when
// r < static_ratio, and otherwise its two parts go to their lists. An empty cluster (r undefined)
// is split by point.
void sortClusterByDynamicShare(
    const std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>& cluster,
    const std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>& dynamic_part,
    const std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>& static_part, float dynamic_ratio,
    float static_ratio, std::vector<std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>>& dynamic_list,
    std::vector<std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>>& static_list);

}  // namespace lidar_perception
