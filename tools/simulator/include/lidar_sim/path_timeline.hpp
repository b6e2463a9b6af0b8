// Position, heading and speed along a waypoint route as a function of time.
//
// The route is cut into segments (stand, turn in place, drive straight) when built; a query is a
// binary search plus an interpolation, so agents and the robot can be placed at every beam's
// time. Looping routes repeat with a fixed period; others stop at the last waypoint.
#pragma once

#include <Eigen/Core>

#include <vector>

#include "lidar_sim/scenario.hpp"

namespace lidar_sim {

struct PathState {
  Eigen::Vector2d position{0.0, 0.0};
  double yaw{0.0};
  double speed{0.0};     // current ground speed, m/s
  double distance{0.0};  // distance travelled since time 0, metres
};

class PathTimeline {
 public:
  // `spec` must hold at least one waypoint and a positive speed (the scenario loader checks).
  explicit PathTimeline(const PathSpec& spec);

  // State at `time` seconds after the scenario start; before it the state at time 0.
  PathState at(double time) const;

 private:
  struct Segment {
    double start{0.0};
    double duration{0.0};
    Eigen::Vector2d from{0.0, 0.0};
    Eigen::Vector2d to{0.0, 0.0};
    double yaw_from{0.0};
    double yaw_to{0.0};  // unwrapped: yaw_from plus the signed turn
    double distance_at_start{0.0};
    bool drives{false};
  };

  double nextStart() const;
  double nextDistance() const;
  void appendStand(double duration);
  void appendTurnTo(double yaw);
  void appendDrive(const Eigen::Vector2d& to);

  std::vector<Segment> segments_;
  double start_delay_{0.0};
  double cycle_duration_{0.0};
  double cycle_distance_{0.0};
  bool loop_{false};
  double speed_{1.0};
  double turn_rate_{0.0};
  Eigen::Vector2d position_{0.0, 0.0};  // cursor while building
  double yaw_{0.0};
};

}  // namespace lidar_sim
