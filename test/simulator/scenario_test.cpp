// Scenario loading: defaults and presets as documented, and one clear error per kind of mistake.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"

namespace lidar_sim {
namespace {

Scenario parse(const std::string& text) {
  return parseScenario(YAML::Load(text), "test.yaml");
}

std::string errorOf(const std::string& text) {
  try {
    parse(text);
  } catch (const ScenarioError& error) {
    return error.what();
  }
  return "no error";
}

TEST(ScenarioTest, DefaultsAndPresets) {
  const Scenario empty = parse("{}");
  EXPECT_EQ(empty.frame_ids.base, "base_footprint");
  EXPECT_EQ(empty.frame_ids.lidar, "3d_lidar_link");
  EXPECT_EQ(empty.lidar.pattern, ScanPatternType::kSpinning);
  EXPECT_EQ(empty.lidar.vertical_angles.size(), 16U);
  EXPECT_NEAR(empty.lidar.mount.translation().z(), 0.3, 1e-12);
  EXPECT_TRUE(empty.lidar.mount.linear().isIdentity(1e-12));
  ASSERT_EQ(empty.robot.path.waypoints.size(), 1U);

  const Scenario livox = parse("lidar: {preset: livox, points_per_frame: 50000}");
  EXPECT_EQ(livox.lidar.pattern, ScanPatternType::kRosette);
  EXPECT_EQ(livox.lidar.points_per_frame, 50000);

  const LidarSpec spinning32 = lidarPreset("spinning32");
  ASSERT_EQ(spinning32.vertical_angles.size(), 32U);
  EXPECT_NEAR(spinning32.vertical_angles.front(), -25.0 * M_PI / 180.0, 1e-12);
  EXPECT_NEAR(spinning32.vertical_angles.back(), 15.0 * M_PI / 180.0, 1e-12);

  // Upside down: the sensor's up is the base's down.
  const Scenario flipped = parse("lidar: {mount: {xyz: [0.1, 0, 0.5], rpy_deg: [180, 0, 0]}}");
  const Eigen::Vector3d up = flipped.lidar.mount.linear() * Eigen::Vector3d::UnitZ();
  EXPECT_NEAR(up.z(), -1.0, 1e-12);
  // Yawed 90 degrees: the sensor's x is the base's y.
  const Scenario yawed = parse("lidar: {mount: {rpy_deg: [0, 0, 90]}}");
  EXPECT_NEAR((yawed.lidar.mount.linear() * Eigen::Vector3d::UnitX()).y(), 1.0, 1e-12);

  const Scenario room = parse("walls: [{rectangle: [0, 0, 4, 2], thickness: 0.2}]");
  ASSERT_EQ(room.walls.size(), 4U);
  EXPECT_NEAR(room.walls[0].from.x(), -0.1, 1e-12);  // inner faces on the rectangle
}

TEST(ScenarioTest, MistakesNameTheKey) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"frames: abc", "frames: expected an integer, got 'abc'"},
      {"frames: 0", "frames: must lie in [1, 1000000]"},
      {"seed: -1", "seed: expected an integer"},
      {"flor: {}", "flor: unknown key"},
      {"lidar: {preset: sonar}", "lidar.preset: unknown lidar preset 'sonar'"},
      {"lidar: {max_range: 0.05}", "lidar.max_range: must exceed min_range"},
      {"lidar: {dropout_probability: 1.5}", "lidar.dropout_probability: must lie in [0, 1)"},
      {"lidar: {mount: {xyz: [0, 0]}}", "lidar.mount.xyz: expected a sequence of 3 numbers"},
      {"lidar: {vertical_angles_deg: [1, x]}", "lidar.vertical_angles_deg[1]: expected a number"},
      {"lidar: [1, 2]", "lidar: expected a mapping of keys"},
      {"people: [{height: 1.7}]", "people[0].path: required key is missing"},
      {"people: [{path: [[0, 0], [1]]}]", "people[0].path[1]: expected a waypoint"},
      {"people: [{path: [[0, 0]], height: 3.0}]", "people[0].height: must lie in [1, 2.2]"},
      {"people: {path: [[0, 0]]}", "people: expected a sequence"},
      {"movers: [{class: truck, path: [[0, 0]]}]", "movers[0].class: unknown mover 'truck'"},
      {"walls: [{from: [0, 0], to: [0, 0]}]", "walls[0].to: a wall needs two distinct end points"},
      {"robot: {path: [[0, 0], [1, 0]], speed: 2.0}", "robot.speed: must be <= 1 m/s"},
      {"objects: [{shape: sofa, x: 0, y: 0}]", "objects[0].shape: unknown shape 'sofa'"},
      {"objects: [{x: 0}]", "objects[0].y: required key is missing"},
      {"floor: {bumps: [{x: 1, y: 0, height: 0.5}]}", "floor.bumps[0].height: must lie in"},
      {"floor: {slope: [0.5, 0]}", "floor.slope: a floor steeper than 0.2"},
      {"scatter: [{count: 2, area: [1, 1, 0, 0]}]", "scatter[0].area: expected [xmin"},
  };
  for (const auto& c : cases) {
    const std::string message = errorOf(c.text);
    EXPECT_NE(message.find(c.expected), std::string::npos)
        << "input: " << c.text << "\nmessage: " << message;
    EXPECT_EQ(message.rfind("test.yaml", 0), 0U) << "names the file: " << message;
  }
}

TEST(ScenarioTest, BrokenFiles) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "lidar_sim_scenario";
  std::filesystem::create_directories(dir);
  const std::string broken = (dir / "broken.yaml").string();
  std::ofstream(broken) << "name: x\npeople: [1, 2\n";
  const std::string list = (dir / "list.yaml").string();
  std::ofstream(list) << "- a\n- b\n";
  const struct {
    std::string path;
    const char* expected;
  } cases[] = {{broken, "not valid YAML"},
               {list, "expected a mapping"},
               {(dir / "missing.yaml").string(), "cannot open"}};
  for (const auto& c : cases) {
    try {
      loadScenario(c.path);
      ADD_FAILURE() << c.path << " loaded";
    } catch (const ScenarioError& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find(c.expected), std::string::npos) << message;
      EXPECT_NE(message.find(c.path), std::string::npos) << message;
    }
  }
  std::filesystem::remove_all(dir);
}

// People and movers keep to the free floor: a route through a wall or piece of furniture is
// refused, naming the file, the agent and what it walks through.
TEST(ScenarioTest, RoutesThroughObstaclesAreRefused) {
  const std::string pillar = "objects: [{shape: cylinder, x: 2.0, y: 0.0, diameter: 0.5}]\n";
  const struct {
    std::string text;
    std::vector<std::string> expected;
  } cases[] = {
      {pillar + "people: [{path: [[0, 0], [4, 0]]}]",
       {"people[0].path", "objects[0] (cylinder pillar at [2, 0])", "from [0, 0] to [4, 0]"}},
      // Half a person's width off the pillar's edge still brushes it.
      {pillar + "people: [{path: [[0, 0.45], [4, 0.45]]}]", {"people[0].path", "objects[0]"}},
      // The closing leg of a loop is walked too.
      {pillar + "people: [{path: [[0, 0], [0, 1], [4, -1]], loop: true}]",
       {"people[0].path", "objects[0]", "from [0, 1] to [4, -1]"}},
      {"walls: [{from: [0, -3], to: [0, 3]}, {from: [3, -3], to: [3, 3]}]\n"
       "people: [{path: [[1, 0], [5, 0]]}]",
       {"people[0].path", "walls[1] (wall from [3, -3] to [3, 3])"}},
      {"walls: [{rectangle: [-2, -2, 2, 2]}]\npeople: [{path: [[0, 0], [0, 2.1]]}]",
       {"people[0].path", "walls[0]"}},
      // A cart is longer than it is wide: it reaches past its end point.
      {"objects: [{shape: box, x: 3.6, y: 0, length: 0.4, width: 0.4}]\n"
       "movers: [{class: cart, path: [[0, 0], [3.0, 0]]}]",
       {"movers[0].path", "the cart walks through objects[0] (box furniture"}},
      // Standing at a table, over its top.
      {"objects: [{shape: table, x: 0, y: 0, length: 1.2, width: 0.8}]\n"
       "people: [{path: [[0, 0.5]]}]",
       {"people[0].path", "objects[0] (table furniture at [0, 0])", "standing at [0, 0.5]"}},
      // The second person is the one in the way.
      {pillar + "people: [{path: [[0, 1], [4, 1]]}, {height: 1.6, path: [[2, -2], [2, 2]]}]",
       {"people[1].path", "objects[0]", "from [2, -2] to [2, 2]"}},
  };
  for (const auto& c : cases) {
    const std::string message = errorOf(c.text);
    EXPECT_EQ(message.rfind("test.yaml", 0), 0U) << "names the file: " << message;
    for (const std::string& part : c.expected) {
      EXPECT_NE(message.find(part), std::string::npos)
          << "input: " << c.text << "\nmessage: " << message << "\nmissing: " << part;
    }
  }
}

TEST(ScenarioTest, RoutesAroundObstaclesLoad) {
  const std::string room =
      "walls: [{rectangle: [-1, -3, 6, 3]}]\n"
      "objects:\n"
      "  - {shape: cylinder, x: 2.0, y: 0.0, diameter: 0.5}\n"
      "  - {shape: box, x: 4.0, y: 0.0, z: 1.9, length: 0.6, width: 0.6, height: 0.3}\n";
  const std::string around[] = {
      // Beside the pillar, with room for the shoulders.
      "people: [{path: [[0, 0.6], [5, 0.6]], loop: true}]",
      // Around it on a detour, under the shelf hung above head height.
      "people: [{height: 1.8, path: [[0.8, 0], [1.2, 0], [2, 1], [2.8, 0], [5, 0]]}]",
      "movers: [{class: cart, path: [[0, -1.5], [5, -1.5]], loop: true}]",
      "people: [{path: [[2, 0.6]], yaw_deg: 90}]",
  };
  for (const std::string& agents : around) {
    EXPECT_EQ(errorOf(room + agents), "no error") << agents;
  }
  // The same shelf lower down is in the way.
  EXPECT_NE(errorOf("objects: [{shape: box, x: 4.0, y: 0.0, z: 1.5, height: 0.3}]\n"
                    "people: [{height: 1.8, path: [[0, 0], [5, 0]]}]")
                .find("objects[0]"),
            std::string::npos);
}

// Nobody walks into the robot: a route that meets the robot's body at some frame is refused,
// naming the agent and the time; beside the robot's path it loads.
TEST(ScenarioTest, AgentsWalkingIntoTheRobotAreRefused) {
  const std::string driving = "robot: {path: [[0, 0], [4, 0]], speed: 0.5}\n";
  // Across the standing robot.
  std::string message = errorOf("people: [{path: [[-3, 0.1], [3, 0.1]]}]");
  EXPECT_NE(message.find("people[0].path"), std::string::npos) << message;
  EXPECT_NE(message.find("the person walks into the robot at"), std::string::npos) << message;
  // The robot drives into someone standing in its way: its front (0.35 m ahead of the base) meets
  // the person's back (0.2 m behind the centre, less a centimetre's brush) after 2.46 m, at
  // 4.92 s, first seen at the half-frame after it.
  message = errorOf(driving + "people: [{path: [[3, 0]]}, {path: [[2, 1]]}]");
  EXPECT_NE(message.find("people[0].path"), std::string::npos) << message;
  EXPECT_NE(message.find("at 4.95 s (frame 49)"), std::string::npos) << message;
  // Movers are counted on their own.
  message = errorOf(driving +
                    "people: [{path: [[2, 1]]}]\n"
                    "movers: [{class: cart, path: [[4, -2], [4, 2]], loop: true}]");
  EXPECT_NE(message.find("movers[0].path"), std::string::npos) << message;
  // Beside the robot's path, and past its end after it has stopped.
  EXPECT_EQ(errorOf(driving + "people: [{path: [[0, 0.7], [5, 0.7]], loop: true}]"), "no error");
  EXPECT_EQ(errorOf(driving + "frames: 20\npeople: [{path: [[3, 0]]}]"), "no error")
      << "the robot reaches the person only after the last frame";
  // A smaller robot leaves room for a walker 0.45 m off its centre line.
  const std::string walker = "people: [{path: [[-3, 0.45], [3, 0.45]]}]";
  EXPECT_NE(errorOf(walker), "no error");
  EXPECT_EQ(errorOf("robot: {path: [[0, 0]], footprint: [0.3, 0.3]}\n" + walker), "no error");
  EXPECT_NE(
      errorOf("robot: {path: [[0, 0]], footprint: [0.3, -1]}\n" + walker).find("robot.footprint"),
      std::string::npos);
}

// Two agents never share floor for good: one standing inside another, or walking through
// someone who stands still, is refused on the later agent. Walkers crossing each other load.
TEST(ScenarioTest, AgentsInsideEachOtherAreRefused) {
  const struct {
    std::string text;
    std::vector<std::string> expected;
  } cases[] = {
      // 0.25 m apart: closer than two bodies 0.4 m deep.
      {"people: [{path: [[3, 0]]}, {path: [[3.1, 0.23]]}]",
       {"people[1].path",
        "the person standing at [3.1, 0.23] meets the person standing at [3, 0]"}},
      {"people: [{path: [[3, 0]]}, {path: [[3, -2], [3, 2]]}]",
       {"people[1].path", "from [3, -2] to [3, 2] meets the person standing at [3, 0]"}},
      // The walker comes first; the one standing in its way is named.
      {"people: [{path: [[3, -2], [3, 2]], loop: true}, {path: [[3, 1.5]]}]",
       {"people[1].path", "standing at [3, 1.5] meets the person on the way from"}},
      // A cart turning at a corner sweeps a disc as wide as it is long.
      // Clear of both legs, but not of the turn between them.
      {"people: [{path: [[3.5, 2.45]]}]\n"
       "movers: [{class: cart, path: [[0, 3], [3, 3], [3, 6]]}]",
       {"movers[0].path", "the cart turning at [3, 3] meets the person standing at [3.5, 2.45]"}},
  };
  for (const auto& c : cases) {
    const std::string message = errorOf(c.text);
    for (const std::string& part : c.expected) {
      EXPECT_NE(message.find(part), std::string::npos)
          << "input: " << c.text << "\nmessage: " << message << "\nmissing: " << part;
    }
  }
  // Shoulder to shoulder, walkers crossing, and a walker passing someone standing.
  EXPECT_EQ(errorOf("people: [{path: [[3, 0]], yaw_deg: 90}, {path: [[3.5, 0]], yaw_deg: 90}]"),
            "no error");
  EXPECT_EQ(errorOf("people: [{path: [[3, -2], [3, 2]]}, {path: [[1, 0], [5, 0]]}]"), "no error");
  EXPECT_EQ(errorOf("people: [{path: [[3, 0]]}, {path: [[3.6, -2], [3.6, 2]]}]"), "no error");
}

// Every scene in the scenario folder loads, clear routes included.
TEST(ScenarioTest, ShippedScenariosLoad) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SCENARIO_DIR)) {
    if (entry.path().extension() != ".yaml") {
      continue;
    }
    ++count;
    try {
      const Scenario scenario = loadScenario(entry.path().string());
      EXPECT_FALSE(scenario.agents.empty()) << entry.path();
    } catch (const ScenarioError& error) {
      ADD_FAILURE() << error.what();
    }
  }
  EXPECT_GE(count, 4);
}

// The shipped scenes are meant for a detector looking 5 m around the robot: each must put a
// person inside that square while the robot drives.
TEST(ScenarioTest, ShippedScenariosShowPeopleNearTheRobot) {
  for (const char* name : {"office_crossing", "corridor", "crowded_hall", "standing_person"}) {
    const Scenario scenario = loadScenario(std::string(SCENARIO_DIR) + "/" + name + ".yaml");
    EXPECT_GE(scenario.frames, 200) << name;
    LidarSimulator simulator(scenario);
    int frames_with_person = 0;
    for (std::uint32_t k = 0; k < 200; k += 40) {
      const SimulatedFrame frame = simulator.simulateFrame(k);
      bool person_near = false;
      for (const ObjectBox& box : frame.boxes) {
        person_near = person_near || (box.object_class == ObjectClass::kPerson &&
                                      std::abs(box.x) <= 5.0 && std::abs(box.y) <= 5.0);
      }
      frames_with_person += person_near ? 1 : 0;
    }
    EXPECT_GE(frames_with_person, 4) << name;
  }
}

}  // namespace
}  // namespace lidar_sim
