// Cluster completeness: for every object seen in one camera cloud, the share of its points that
// landed in its largest cluster, pooled over all objects as points in largest clusters over all
// object points.
//
// An object is one truth id in one camera cloud of one frame of one scenario. Truth ids restart
// in every scenario and frame numbers do too, so all four parts make the key; without the
// scenario, objects of different scenarios would merge into one and pooled figures would count
// their clusters against each other.
#pragma once

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

namespace perception_bench {

struct ObjectKey {
  int scenario{0};
  long frame{0};
  int camera{0};
  int object_id{0};

  bool operator<(const ObjectKey& o) const {
    return std::tie(scenario, frame, camera, object_id) <
           std::tie(o.scenario, o.frame, o.camera, o.object_id);
  }
};

class ClusterCompleteness {
 public:
  // One point of `object`; `cluster` is the cluster it was reported in, negative for none.
  void addPoint(const ObjectKey& object, int cluster) {
    ++object_points_[object];
    if (cluster >= 0) {
      ++cluster_points_[{object, cluster}];
    }
  }

  // Points in each object's largest cluster over all object points; 0 without points.
  double value() const {
    std::map<ObjectKey, long> largest;
    for (const auto& entry : cluster_points_) {
      long& best = largest[entry.first.first];
      best = std::max(best, entry.second);
    }
    long total = 0;
    long complete = 0;
    for (const auto& object : object_points_) {
      total += object.second;
      const auto found = largest.find(object.first);
      complete += found != largest.end() ? found->second : 0;
    }
    return total == 0 ? 0.0 : static_cast<double>(complete) / static_cast<double>(total);
  }

  std::size_t objectCount() const { return object_points_.size(); }

 private:
  std::map<ObjectKey, long> object_points_;
  std::map<std::pair<ObjectKey, int>, long> cluster_points_;
};

}  // namespace perception_bench
