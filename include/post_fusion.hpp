// Promotion of static clusters that lie inside a detected box.
#pragma once

#include <memory>
#include <vector>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "trelvon/bbox.hpp"

namespace lidar_perception {

using ClusterList = std::vector<std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>>>;

// For cameras 0 .. camera_count - 1 walks the static list of the camera from the front and moves
// every cluster of which more than `threshold` of the points (strictly: inside > n * threshold,
// in float) lie inside the footprint of one box, the first such box in box order, to the end of
// the camera's dynamic list; the rest keep their order. Heights play no part. Without boxes the
// lists stay as they are. Both lists need an entry per camera (std::out_of_range otherwise).
void promoteClustersInBoxes(const std::vector<trelvon::BBox>& boxes, float threshold,
                            size_t camera_count, std::vector<ClusterList>& dynamic_clusters,
                            std::vector<ClusterList>& static_clusters);

}  // namespace lidar_perception
