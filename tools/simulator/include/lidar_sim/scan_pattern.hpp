// Where and when a lidar fires its beams during one frame.
#pragma once

#include <Eigen/Core>

#include <cstdint>
#include <memory>
#include <vector>

#include "lidar_sim/scenario.hpp"

namespace lidar_sim {

// One beam: unit direction in the lidar frame, firing time after the frame start, laser line.
struct Beam {
  Eigen::Vector3d direction{Eigen::Vector3d::UnitX()};
  std::uint32_t offset_ns{0};
  std::uint8_t line{0};
};

// Interface of the beam generators. Beams come out ordered by firing time, all within
// [0, frame period). Implementations are immutable after construction.
class ScanPattern {
 public:
  virtual ~ScanPattern() = default;
  // Replaces the contents of `beams` with frame `frame_index`'s beams (keeps their capacity).
  virtual void beamsForFrame(std::uint32_t frame_index, std::vector<Beam>& beams) const = 0;
  virtual std::size_t beamsPerFrame() const = 0;

  // The generator for `spec.pattern`.
  static std::shared_ptr<const ScanPattern> create(const LidarSpec& spec);
};

}  // namespace lidar_sim
