// A spinning multi-beam lidar: a column of rings fired one after another at every azimuth step,
// the head turning clockwise seen from above (like the common 16/32-ring sensors) once per frame,
// starting and ending behind the sensor so that the seam is at the back.
#pragma once

#include "lidar_sim/scan_pattern.hpp"

namespace lidar_sim {

class SpinningPattern : public ScanPattern {
 public:
  // `spec.vertical_angles` must be non-empty and `spec.azimuth_step` positive.
  explicit SpinningPattern(const LidarSpec& spec);
  void beamsForFrame(std::uint32_t frame_index, std::vector<Beam>& beams) const override;
  std::size_t beamsPerFrame() const override { return beams_.size(); }

 private:
  std::vector<Beam> beams_;  // identical every frame
};

}  // namespace lidar_sim
