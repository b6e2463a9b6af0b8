#include "lidar_sim/path_timeline.hpp"

#include <algorithm>
#include <cmath>

namespace lidar_sim {

namespace {

double headingOf(const Eigen::Vector2d& from, const Eigen::Vector2d& to) {
  const Eigen::Vector2d delta = to - from;
  return std::atan2(delta.y(), delta.x());
}

double wrapAngle(double angle) {
  return std::remainder(angle, 2.0 * M_PI);
}

}  // namespace

PathTimeline::PathTimeline(const PathSpec& spec)
    : start_delay_(spec.start_delay),
      loop_(spec.loop),
      speed_(spec.speed),
      turn_rate_(spec.turn_rate) {
  const std::vector<Waypoint>& points = spec.waypoints;
  position_ = Eigen::Vector2d(points.front().x, points.front().y);
  // The route starts heading along its first drive. A looping route ends each lap by turning
  // back to that heading, so that every lap is identical.
  yaw_ = spec.initial_yaw;
  const std::size_t count = points.size();
  const std::size_t legs = loop_ ? count : count - 1;
  auto point = [&](std::size_t i) {
    return Eigen::Vector2d(points[i % count].x, points[i % count].y);
  };
  for (std::size_t i = 0; i < legs; ++i) {
    if ((point(i + 1) - point(i)).norm() > 1e-9) {
      yaw_ = headingOf(point(i), point(i + 1));
      break;
    }
  }
  const double first_heading = yaw_;
  for (std::size_t i = 0; i < legs; ++i) {
    appendStand(points[i].wait);
    const Eigen::Vector2d to = point(i + 1);
    if ((to - position_).norm() > 1e-9) {
      appendTurnTo(headingOf(position_, to));
      appendDrive(to);
    }
  }
  if (loop_) {
    appendTurnTo(first_heading);
  } else {
    appendStand(points.back().wait);
  }
  cycle_duration_ = nextStart();
  cycle_distance_ = nextDistance();
  if (segments_.empty()) {
    // A route that never moves: one stand segment carries the position and heading.
    Segment stand;
    stand.from = stand.to = position_;
    stand.yaw_from = stand.yaw_to = yaw_;
    segments_.push_back(stand);
  }
}

double PathTimeline::nextStart() const {
  return segments_.empty() ? 0.0 : segments_.back().start + segments_.back().duration;
}

double PathTimeline::nextDistance() const {
  if (segments_.empty()) {
    return 0.0;
  }
  const Segment& last = segments_.back();
  return last.distance_at_start + (last.drives ? (last.to - last.from).norm() : 0.0);
}

void PathTimeline::appendStand(double duration) {
  if (!(duration > 0.0)) {
    return;
  }
  Segment segment;
  segment.start = nextStart();
  segment.duration = duration;
  segment.from = segment.to = position_;
  segment.yaw_from = segment.yaw_to = yaw_;
  segment.distance_at_start = nextDistance();
  segments_.push_back(segment);
}

void PathTimeline::appendTurnTo(double yaw) {
  const double turn = wrapAngle(yaw - yaw_);
  if (turn_rate_ > 0.0 && std::abs(turn) > 1e-9) {
    Segment segment;
    segment.start = nextStart();
    segment.duration = std::abs(turn) / turn_rate_;
    segment.from = segment.to = position_;
    segment.yaw_from = yaw_;
    segment.yaw_to = yaw_ + turn;
    segment.distance_at_start = nextDistance();
    segments_.push_back(segment);
  }
  yaw_ = wrapAngle(yaw_ + turn);
}

void PathTimeline::appendDrive(const Eigen::Vector2d& to) {
  Segment segment;
  segment.start = nextStart();
  segment.duration = (to - position_).norm() / speed_;
  segment.from = position_;
  segment.to = to;
  segment.yaw_from = segment.yaw_to = yaw_;
  segment.distance_at_start = nextDistance();
  segment.drives = true;
  segments_.push_back(segment);
  position_ = to;
}

PathState PathTimeline::at(double time) const {
  double local = time - start_delay_;
  double distance_offset = 0.0;
  if (local < 0.0) {
    // Still waiting to set off: where the route starts, at rest.
    PathState state;
    state.position = segments_.front().from;
    state.yaw = wrapAngle(segments_.front().yaw_from);
    return state;
  }
  if (loop_ && cycle_duration_ > 0.0) {
    const double laps = std::floor(local / cycle_duration_);
    local -= laps * cycle_duration_;
    distance_offset = laps * cycle_distance_;
  }
  // Last segment starting at or before `local`.
  auto next = std::upper_bound(segments_.begin(), segments_.end(), local,
                               [](double t, const Segment& s) { return t < s.start; });
  const Segment& segment = next == segments_.begin() ? segments_.front() : *std::prev(next);
  PathState state;
  if (segment.duration <= 0.0 || local >= segment.start + segment.duration) {
    state.position = segment.to;
    state.yaw = wrapAngle(segment.yaw_to);
    state.distance = distance_offset + segment.distance_at_start +
                     (segment.drives ? (segment.to - segment.from).norm() : 0.0);
    return state;
  }
  const double fraction = (local - segment.start) / segment.duration;
  state.position = segment.from + fraction * (segment.to - segment.from);
  state.yaw = wrapAngle(segment.yaw_from + fraction * (segment.yaw_to - segment.yaw_from));
  state.speed = segment.drives ? speed_ : 0.0;
  state.distance = distance_offset + segment.distance_at_start +
                   (segment.drives ? fraction * (segment.to - segment.from).norm() : 0.0);
  return state;
}

}  // namespace lidar_sim
