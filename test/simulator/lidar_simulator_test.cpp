// Simulated scans against geometry worked out by hand: walls and floor at known distances, the
// robot's motion during a frame, labels that agree with the scene, and determinism for a seed.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/rosette_pattern.hpp"
#include "lidar_sim/spinning_pattern.hpp"

namespace lidar_sim {
namespace {

Scenario parse(const std::string& text) {
  return parseScenario(YAML::Load(text), "test");
}

// One level ring, 1 degree apart, no noise, 0.5 m above the floor, a wall whose face is at x = 5.
constexpr const char* kWallScene = R"(
lidar: {vertical_angles_deg: [0], azimuth_step_deg: 1.0, range_noise_sigma: 0,
        mount: {xyz: [0, 0, 0.5]}}
walls: [{from: [5.1, -20], to: [5.1, 20], thickness: 0.2, height: 2.0}]
)";

TEST(LidarSimulatorTest, BeamsMeetWallsAndFloorWhereGeometrySaysSo) {
  {
    LidarSimulator simulator(parse(kWallScene));
    const SimulatedFrame frame = simulator.simulateFrame(0);
    int wall_points = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
      const pcl::PointXYZI& p = (*frame.cloud)[i];
      if (frame.labels[i] == PointLabel::kStatic && p.x > 0.0F) {
        ++wall_points;
        EXPECT_NEAR(p.x, 5.0, 1e-4);
        EXPECT_NEAR(p.z, 0.0, 1e-4);
      }
    }
    // The wall spans azimuths within atan(20 / 5) = 76 degrees of the front: 153 columns.
    EXPECT_NEAR(wall_points, 153, 2);
  }
  {
    // Facing +y, the wall is to the robot's right.
    LidarSimulator simulator(
        parse(std::string(kWallScene) + "robot: {path: [[0, 0]], yaw_deg: 90}"));
    const SimulatedFrame frame = simulator.simulateFrame(0);
    int wall_points = 0;
    for (const pcl::PointXYZI& p : frame.cloud->points) {
      if (p.y < 0.0F) {
        ++wall_points;
        EXPECT_NEAR(p.y, -5.0, 1e-4);
      }
    }
    EXPECT_GT(wall_points, 140);
  }
  {
    // Mounted upside down, a beam 10 degrees "up" in the sensor goes down to the floor, 0.5 m
    // below: range 0.5 / sin 10 degrees, and the sensor sees the floor at z = +0.5.
    LidarSimulator simulator(parse(R"(
lidar: {vertical_angles_deg: [10], azimuth_step_deg: 1.0, range_noise_sigma: 0,
        mount: {xyz: [0, 0, 0.5], rpy_deg: [180, 0, 0]}}
)"));
    const SimulatedFrame frame = simulator.simulateFrame(0);
    ASSERT_EQ(frame.size(), 360U);
    for (std::size_t i = 0; i < frame.size(); ++i) {
      const pcl::PointXYZI& p = (*frame.cloud)[i];
      EXPECT_EQ(frame.labels[i], PointLabel::kGround);
      EXPECT_EQ(frame.object_ids[i], kGroundObjectId);
      EXPECT_NEAR(p.z, 0.5, 1e-4);
      EXPECT_NEAR(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z), 0.5 / std::sin(10.0 * M_PI / 180.0),
                  1e-4);
    }
  }
}

TEST(LidarSimulatorTest, RobotMotionSmearsTheScan) {
  // Driving at 1 m/s towards the wall from x = -10: a beam fired t seconds after the start sees
  // the wall 15 - t ahead. Frame 5 spans t = 0.5 .. 0.6 s.
  LidarSimulator simulator(
      parse(std::string(kWallScene) +
            "robot: {path: [[-10, 0], [10, 0]], speed: 1.0}\n"
            "lidar: {vertical_angles_deg: [0], azimuth_step_deg: 1.0, "
            "range_noise_sigma: 0, mount: {xyz: [0, 0, 0.5]}, max_range: 60}"));
  const SimulatedFrame frame = simulator.simulateFrame(5);
  double nearest = 1e9;
  double farthest = 0.0;
  double first_time = 1e9;
  double last_time = 0.0;
  int wall_points = 0;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    const pcl::PointXYZI& p = (*frame.cloud)[i];
    if (frame.labels[i] != PointLabel::kStatic || p.x <= 0.0F) {
      continue;
    }
    ++wall_points;
    const double time = 0.5 + frame.offset_time_ns[i] * 1e-9;
    // The scene is moved in 1 ms steps: within half a step at 1 m/s.
    EXPECT_NEAR(p.x, 15.0 - time, 0.0006);
    nearest = std::min(nearest, static_cast<double>(p.x));
    farthest = std::max(farthest, static_cast<double>(p.x));
    first_time = std::min(first_time, time);
    last_time = std::max(last_time, time);
  }
  EXPECT_GT(wall_points, 100);
  // The wall spans atan(20 / 15) either side of the front, swept in the middle of the frame
  // over 2 * 53.1 / 360 of 0.1 s: the robot closes in by that many metres meanwhile.
  EXPECT_NEAR(last_time - first_time, 0.1 * 2.0 * std::atan(20.0 / 15.0) / (2.0 * M_PI), 0.0006);
  EXPECT_NEAR(farthest - nearest, last_time - first_time, 0.0012);
}

TEST(LidarSimulatorTest, LabelsAgreeWithTheScene) {
  const Scenario scenario = parse(R"(
seed: 3
lidar: {preset: spinning16, range_noise_sigma: 0}
floor: {slope: [0.02, 0.0]}
walls: [{rectangle: [-6, -6, 8, 6]}]
objects:
  - {shape: table, x: 2.0, y: 2.0, length: 1.2, width: 0.8, height: 0.75}
  - {shape: box, x: -2.0, y: -2.5, length: 0.6, width: 0.6, height: 1.0}
people:
  - {height: 1.8, speed: 1.4, path: [[3, -4], [3, 4]], loop: true}
  - {height: 1.6, speed: 0.8, path: [[-3, 3], [4, 3]], loop: true}
movers: [{class: cart, speed: 1.0, path: [[-4, -1.5], [5, -1.5]], loop: true}]
robot: {path: [[-1, 0], [1.5, 0]], speed: 1.0, loop: true}
)");
  LidarSimulator simulator(scenario);
  std::size_t ground = 0;
  std::size_t dynamic = 0;
  for (std::uint32_t k = 0; k < 30; k += 3) {
    const SimulatedFrame frame = simulator.simulateFrame(k);
    std::map<std::uint16_t, ObjectBox> agents;
    for (const ObjectBox& box : frame.boxes) {
      if (box.object_class == ObjectClass::kPerson || box.object_class == ObjectClass::kCart) {
        agents[box.id] = box;
      }
    }
    ASSERT_EQ(agents.size(), 3U);
    const Eigen::Isometry3d base_from_map = frame.map_to_base.inverse();
    for (std::size_t i = 0; i < frame.size(); ++i) {
      const pcl::PointXYZI& p = (*frame.cloud)[i];
      const double time = k * 0.1 + frame.offset_time_ns[i] * 1e-9;
      const Eigen::Vector3d in_map =
          simulator.robotPose(time) * frame.base_to_lidar * Eigen::Vector3d(p.x, p.y, p.z);
      const double floor_z = 0.02 * in_map.x();
      const bool is_agent = agents.count(frame.object_ids[i]) != 0;
      EXPECT_EQ(frame.labels[i] == PointLabel::kDynamic, is_agent)
          << "frame " << k << " point " << i;
      if (frame.labels[i] == PointLabel::kGround) {
        ++ground;
        EXPECT_NEAR(in_map.z(), floor_z, 2e-4);
        continue;
      }
      EXPECT_GT(in_map.z(), floor_z - 1e-3);
      if (!is_agent) {
        continue;
      }
      // On the agent's box at the stamp, allowing for its motion during the frame.
      ++dynamic;
      const ObjectBox& box = agents[frame.object_ids[i]];
      const Eigen::Vector3d in_base = base_from_map * in_map;
      const double dx = in_base.x() - box.x;
      const double dy = in_base.y() - box.y;
      const double along = std::cos(box.yaw) * dx + std::sin(box.yaw) * dy;
      const double across = -std::sin(box.yaw) * dx + std::cos(box.yaw) * dy;
      const double slack = 0.05 + 0.1 * box.speed;
      EXPECT_LE(std::abs(along), box.length / 2.0 + slack) << "frame " << k << " point " << i;
      EXPECT_LE(std::abs(across), box.width / 2.0 + slack) << "frame " << k << " point " << i;
      EXPECT_LE(in_base.z() - box.z, box.height + 0.05);
    }
  }
  EXPECT_GT(ground, 10000U);
  EXPECT_GT(dynamic, 200U);
}

TEST(LidarSimulatorTest, FramesDependOnlyOnSeedAndIndex) {
  const std::string text = R"(
lidar: {preset: livox, range_noise_sigma: 0.02, dropout_probability: 0.1}
walls: [{rectangle: [-6, -6, 6, 6]}]
ceiling: {height: 2.5}
scatter: [{count: 4, area: [-5, -5, 5, 5]}]
people: [{speed: 1.0, path: [[-4, 2], [4, 2]], loop: true}]
robot: {path: [[-1, 0], [1, 0]], loop: true}
)";
  auto same = [](const SimulatedFrame& a, const SimulatedFrame& b) {
    if (a.size() != b.size() || a.offset_time_ns != b.offset_time_ns || a.labels != b.labels ||
        a.object_ids != b.object_ids || a.boxes.size() != b.boxes.size()) {
      return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
      const pcl::PointXYZI& p = (*a.cloud)[i];
      const pcl::PointXYZI& q = (*b.cloud)[i];
      if (p.x != q.x || p.y != q.y || p.z != q.z || p.intensity != q.intensity) {
        return false;
      }
    }
    for (std::size_t i = 0; i < a.boxes.size(); ++i) {
      if (a.boxes[i].x != b.boxes[i].x || a.boxes[i].y != b.boxes[i].y) {
        return false;
      }
    }
    return true;
  };
  LidarSimulator first(parse("seed: 8\n" + text));
  LidarSimulator second(parse("seed: 8\n" + text));
  second.simulateFrame(9);  // another frame first must not change frame 4
  const SimulatedFrame frame = first.simulateFrame(4);
  EXPECT_TRUE(same(frame, second.simulateFrame(4)));
  EXPECT_TRUE(same(frame, first.simulateFrame(4)));
  EXPECT_FALSE(same(frame, first.simulateFrame(5)));
  LidarSimulator reseeded(parse("seed: 9\n" + text));
  EXPECT_FALSE(same(frame, reseeded.simulateFrame(4)));
  // Dropouts: about a tenth of the 20000 beams, and no beam escapes the closed room.
  EXPECT_NEAR(static_cast<double>(frame.size()), 18000.0, 300.0);
}

TEST(LidarSimulatorTest, ScanPatterns) {
  {
    const SpinningPattern spinning(lidarPreset("spinning16"));
    std::vector<Beam> beams;
    spinning.beamsForFrame(0, beams);
    ASSERT_EQ(beams.size(), 1800U * 16U);
    EXPECT_LT(beams.front().direction.x(), -0.9) << "the seam is behind the sensor";
    for (std::size_t i = 1; i < beams.size(); ++i) {
      ASSERT_GT(beams[i].offset_ns, beams[i - 1].offset_ns);
    }
    EXPECT_GT(beams.back().offset_ns, 99'900'000U);
    EXPECT_LT(beams.back().offset_ns, 100'000'000U);
    EXPECT_NEAR(std::asin(beams[0].direction.z()), -15.0 * M_PI / 180.0, 1e-9);
    EXPECT_NEAR(std::asin(beams[15].direction.z()), 15.0 * M_PI / 180.0, 1e-9);
  }
  {
    const LidarSpec spec = lidarPreset("livox");
    const RosettePattern rosette(spec);
    std::vector<Beam> frame0;
    std::vector<Beam> frame1;
    rosette.beamsForFrame(0, frame0);
    rosette.beamsForFrame(1, frame1);
    ASSERT_EQ(frame0.size(), 20000U);
    const double reach = spec.cone_half_angle + spec.laser_spacing * spec.lasers;
    std::set<int> sectors;
    int moved = 0;
    for (std::size_t i = 0; i < frame0.size(); ++i) {
      const Eigen::Vector3d& d = frame0[i].direction;
      EXPECT_NEAR(d.norm(), 1.0, 1e-9);
      const double elevation = std::asin(d.z());
      EXPECT_GE(elevation, spec.cone_elevation - reach - 1e-9);
      EXPECT_LE(elevation, spec.cone_elevation + reach + 1e-9);
      sectors.insert(static_cast<int>(std::floor((std::atan2(d.y(), d.x()) + M_PI) / (M_PI / 4))));
      moved += (frame1[i].direction - d).norm() > 1e-3 ? 1 : 0;
    }
    EXPECT_EQ(sectors.size(), 8U) << "the rosette turns all around within a frame";
    EXPECT_GT(moved, 19000) << "the next frame fills other directions";
  }
}

}  // namespace
}  // namespace lidar_sim
