#include "velodyne/sweep_summary.hpp"

#include <algorithm>
#include <cmath>

namespace velodyne {

SweepSummary summarizeSweep(const std::vector<Vlp16Point>& points) {
  SweepSummary summary;
  summary.points = points.size();
  bool first = true;
  for (const Vlp16Point& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      ++summary.non_finite;
      continue;
    }
    if (p.ring < kLasers) {
      summary.rings.set(p.ring);
    }
    const double range = std::sqrt(double{p.x} * p.x + double{p.y} * p.y + double{p.z} * p.z);
    if (first) {
      summary.min_range_m = summary.max_range_m = range;
      summary.min_z_m = summary.max_z_m = p.z;
      first = false;
      continue;
    }
    summary.min_range_m = std::min(summary.min_range_m, range);
    summary.max_range_m = std::max(summary.max_range_m, range);
    summary.min_z_m = std::min(summary.min_z_m, double{p.z});
    summary.max_z_m = std::max(summary.max_z_m, double{p.z});
  }
  return summary;
}

}  // namespace velodyne
