// A non-repetitive rosette scanner in the style of prism-scanning solid-state lidars.
//
// Two prisms turning at incommensurate rates deflect each laser within a cone around an axis:
// the deflection is the sum of two equal rotating vectors, tracing rosette petals that never
// close on themselves. The cone's axis is raised by `cone_elevation` and, when `azimuth_rate` is
// not 0, turns about the vertical so that the rosette covers all around. Beams are evenly spaced
// in time; consecutive beams go to consecutive lasers, each a little higher than the previous.
// The pattern runs in absolute time, so successive frames fill the gaps of earlier ones.
#pragma once

#include "lidar_sim/scan_pattern.hpp"

namespace lidar_sim {

class RosettePattern : public ScanPattern {
 public:
  explicit RosettePattern(const LidarSpec& spec);
  void beamsForFrame(std::uint32_t frame_index, std::vector<Beam>& beams) const override;
  std::size_t beamsPerFrame() const override {
    return static_cast<std::size_t>(spec_.points_per_frame);
  }

 private:
  LidarSpec spec_;
};

}  // namespace lidar_sim
