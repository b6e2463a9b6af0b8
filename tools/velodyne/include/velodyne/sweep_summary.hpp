// Figures of a decoded sweep, for the command-line program and for checks.
#pragma once

#include <bitset>
#include <cstddef>
#include <vector>

#include "velodyne/vlp16_layout.hpp"
#include "velodyne/vlp16_point.hpp"

namespace velodyne {

struct SweepSummary {
  std::size_t points{};
  // 3-D distance from the sensor origin, metres; zero when there are no points.
  double min_range_m{};
  double max_range_m{};
  // Height span in the sensor frame, metres; zero when there are no points.
  double min_z_m{};
  double max_z_m{};
  std::bitset<kLasers> rings;  // rings that hold at least one point
  std::size_t non_finite{};    // points with a NaN or infinite coordinate, left out of the spans
};

SweepSummary summarizeSweep(const std::vector<Vlp16Point>& points);

}  // namespace velodyne
