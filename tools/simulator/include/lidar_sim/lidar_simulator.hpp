// Simulates the frames of a scenario: a lidar on a moving robot ray-cast into a moving scene.
//
// Every beam is cast at its own firing time (to within the scenario's motion step): the robot and
// the agents move during a frame, so that moving objects and the robot's own motion smear as on
// a real sensor. Frame k depends only on the scenario and k (its noise generator is seeded from
// the scenario seed and k), so frames can be simulated in any order, each identically.
// Owns its scene and scratch buffers; not thread-safe, use one simulator per thread.
#pragma once

#include <Eigen/Geometry>

#include <cstdint>
#include <memory>
#include <vector>

#include "lidar_sim/path_timeline.hpp"
#include "lidar_sim/scan_pattern.hpp"
#include "lidar_sim/scenario.hpp"
#include "lidar_sim/scene.hpp"
#include "lidar_sim/simulated_frame.hpp"

namespace lidar_sim {

class LidarSimulator {
 public:
  explicit LidarSimulator(const Scenario& scenario);

  const Scenario& scenario() const { return scenario_; }
  std::uint32_t frameCount() const { return static_cast<std::uint32_t>(scenario_.frames); }
  std::size_t beamsPerFrame() const { return pattern_->beamsPerFrame(); }

  // Frame `index` (any index, also past the scenario's frame count).
  SimulatedFrame simulateFrame(std::uint32_t index);
  // Same, into `frame`, reusing its storage.
  void simulateFrame(std::uint32_t index, SimulatedFrame& frame);

  std::int64_t frameStampNs(std::uint32_t index) const;
  // map -> base_footprint at `time` seconds after the scenario start. The robot stands on the
  // floor and tilts with it.
  Eigen::Isometry3d robotPose(double time) const;

 private:
  Scenario scenario_;
  std::shared_ptr<Scene> scene_;
  std::shared_ptr<const ScanPattern> pattern_;
  PathTimeline robot_path_;
  std::int64_t period_ns_;
  std::vector<Beam> beams_;
  std::vector<ObjectBox> map_boxes_;
};

}  // namespace lidar_sim
