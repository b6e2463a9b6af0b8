// Route timing against positions worked out by hand from distances, speeds and turn rates.
#include <gtest/gtest.h>

#include <cmath>

#include "lidar_sim/path_timeline.hpp"

namespace lidar_sim {
namespace {

PathSpec route(std::vector<Waypoint> points, double speed, double turn_rate_deg, bool loop) {
  PathSpec spec;
  spec.waypoints = std::move(points);
  spec.speed = speed;
  spec.turn_rate = turn_rate_deg * M_PI / 180.0;
  spec.loop = loop;
  return spec;
}

void expectState(const PathTimeline& path, double time, double x, double y, double yaw,
                 double speed) {
  const PathState state = path.at(time);
  EXPECT_NEAR(state.position.x(), x, 1e-9) << "at t = " << time;
  EXPECT_NEAR(state.position.y(), y, 1e-9) << "at t = " << time;
  EXPECT_NEAR(std::remainder(state.yaw - yaw, 2 * M_PI), 0.0, 1e-9) << "at t = " << time;
  EXPECT_NEAR(state.speed, speed, 1e-9) << "at t = " << time;
}

TEST(PathTimelineTest, DrivesWaitsAndTurns) {
  {
    const PathTimeline straight(route({{0, 0, 0}, {4, 0, 0}}, 2.0, 0.0, false));
    expectState(straight, 1.0, 2.0, 0.0, 0.0, 2.0);
    expectState(straight, 3.0, 4.0, 0.0, 0.0, 0.0);  // arrived and stays
    EXPECT_NEAR(straight.at(1.0).distance, 2.0, 1e-9);
  }
  {
    // 2 s to (2, 0), 1 s waiting, 1 s turning 90 degrees, 2 s to (2, 2).
    const PathTimeline corner(route({{0, 0, 0}, {2, 0, 1.0}, {2, 2, 0}}, 1.0, 90.0, false));
    expectState(corner, 2.5, 2.0, 0.0, 0.0, 0.0);
    expectState(corner, 3.5, 2.0, 0.0, M_PI / 4.0, 0.0);
    expectState(corner, 5.0, 2.0, 1.0, M_PI / 2.0, 1.0);
    EXPECT_NEAR(corner.at(5.0).distance, 3.0, 1e-9);
  }
  {
    PathSpec delayed = route({{0, 0, 0}, {3, 0, 0}}, 1.0, 0.0, false);
    delayed.start_delay = 1.0;
    const PathTimeline path(delayed);
    expectState(path, 0.5, 0.0, 0.0, 0.0, 0.0);
    expectState(path, 1.5, 0.5, 0.0, 0.0, 1.0);
  }
  {
    PathSpec still = route({{1, 2, 0}}, 1.0, 0.0, false);
    still.initial_yaw = 0.3;
    expectState(PathTimeline(still), 7.0, 1.0, 2.0, 0.3, 0.0);
  }
}

TEST(PathTimelineTest, LoopsRepeatWithTheirPeriod) {
  {
    // A 1 m square at 1 m/s with instant turns: period 4 s.
    const PathTimeline square(route({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, 1.0, 0.0, true));
    expectState(square, 2.5, 0.5, 1.0, M_PI, 1.0);
    expectState(square, 3.5, 0.0, 0.5, -M_PI / 2.0, 1.0);
    expectState(square, 4.5, 0.5, 0.0, 0.0, 1.0);
    EXPECT_NEAR(square.at(4.5).distance, 4.5, 1e-9);
  }
  {
    // Out 2 s, turn 1 s, back 2 s, turn 1 s: period 6 s, every lap heading out along +x.
    const PathTimeline shuttle(route({{0, 0, 0}, {2, 0, 0}}, 1.0, 180.0, true));
    expectState(shuttle, 0.5, 0.5, 0.0, 0.0, 1.0);
    EXPECT_NEAR(std::abs(shuttle.at(2.5).yaw), M_PI / 2.0, 1e-9);
    expectState(shuttle, 4.0, 1.0, 0.0, M_PI, 1.0);
    expectState(shuttle, 6.5, 0.5, 0.0, 0.0, 1.0);
    expectState(shuttle, 60.5, 0.5, 0.0, 0.0, 1.0);
  }
}

}  // namespace
}  // namespace lidar_sim
