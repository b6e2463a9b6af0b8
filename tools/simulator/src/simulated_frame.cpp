#include "lidar_sim/simulated_frame.hpp"

#include <fmt/format.h>

#include <stdexcept>

namespace lidar_sim {

void SimulatedFrame::checkConsistent() const {
  const std::size_t points = cloud == nullptr ? 0 : cloud->size();
  if (offset_time_ns.size() != points || line.size() != points || labels.size() != points ||
      object_ids.size() != points) {
    throw std::logic_error(fmt::format(
        "frame {}: {} points but {} offset times, {} lines, {} labels, {} object ids", index,
        points, offset_time_ns.size(), line.size(), labels.size(), object_ids.size()));
  }
}

}  // namespace lidar_sim
