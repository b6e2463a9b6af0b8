#include "post_fusion.hpp"

#include "box_footprint.hpp"

namespace lidar_perception {
namespace {

size_t pointsInside(const pcl::PointCloud<pcl::PointXYZ>& cluster, const BoxFootprint& footprint) {
  size_t inside = 0;
  for (const auto& p : cluster.points) {
    if (insideFootprint(footprint, p.x, p.y)) {
      ++inside;
    }
  }
  return inside;
}

}  // namespace

void promoteClustersInBoxes(const std::vector<trelvon::BBox>& boxes, float threshold,
                            size_t camera_count, std::vector<ClusterList>& dynamic_clusters,
                            std::vector<ClusterList>& static_clusters) {
  std::vector<BoxFootprint> footprints;
  footprints.reserve(boxes.size());
  for (const trelvon::BBox& box : boxes) {
    footprints.push_back(boxFootprint(box));
  }
  for (size_t i = 0; i < camera_count; ++i) {
    ClusterList& dynamic_list = dynamic_clusters.at(i);
    ClusterList& static_list = static_clusters.at(i);
    if (footprints.empty()) {
      continue;
    }
    // Clusters that stay are compacted towards the front as the walk goes.
    size_t kept = 0;
    for (size_t k = 0; k < static_list.size(); ++k) {
      const auto& cluster = static_list[k];
      const float limit = static_cast<float>(cluster->size()) * threshold;
      bool matches = false;
      for (const BoxFootprint& footprint : footprints) {
        if (static_cast<float>(pointsInside(*cluster, footprint)) > limit) {
          matches = true;
          break;
        }
      }
      if (matches) {
        dynamic_list.push_back(cluster);
      } else {
        static_list[kept++] = cluster;
      }
    }
    static_list.resize(kept);
  }
}

}  // namespace lidar_perception
