// Takes people out of the static clusters they share with what stands beside them.
#pragma once

#include <norvel/perception/point_cloud_types.hpp>

#include <cstddef>
#include <vector>

namespace norvel {
namespace perception {

// One part of a divided cluster: its points and, of them, the moved and the static ones (each in
// the cluster's order).
struct ClusterPart {
  PointCloudPtr cluster;
  PointCloudPtr dynamic_part;
  PointCloudPtr static_part;
};

struct MovingBodySettings {
  // Grid on which the moved points are grouped: cells sharing an edge or a corner join.
  float cell{0.15F};
  // A group is a body when its horizontal box's diagonal is at most this, metres...
  float max_diagonal{1.0F};
  // ...it holds at least this many moved points...
  std::size_t min_points{30};
  // ...and moved points are at least this share of the cluster's points within its box grown by
  // `margin` (metres).
  float min_share{0.8F};
  float margin{0.05F};
};

// A person walking close beside a wall, a bench or a parked trolley joins its cluster, and a
// cluster whose moved share is small is static as a whole, walker included. The motion detector
// still tells the walker's own points: they lie together in a body-sized patch. Each such patch
// where moved points are the majority, with the cluster's other points within its box, becomes a
// part of its own; whatever is left is the last part. Moved points scattered over a wall (a
// patchy sensor's gaps, a scan's smear) are a minority wherever they lie and stay in it.
//
// `dynamic_part` holds the moved points of `cluster`, in its order (as DivideCloud writes them).
// Returns the parts, or nothing when no body was found (the cluster stays as it is).
std::vector<ClusterPart> separateMovingBodies(const PointCloud& cluster,
                                              const PointCloud& dynamic_part,
                                              const MovingBodySettings& settings);

}  // namespace perception
}  // namespace norvel
