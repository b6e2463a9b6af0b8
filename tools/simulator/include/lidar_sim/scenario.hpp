// Scenario description: everything that makes a simulated recording, as read from a YAML file.
//
// A scenario is plain data, validated when loaded; the simulator never re-checks it. Lengths are
// metres, angles radians (the YAML file writes degrees where the key ends in "_deg"), times
// seconds, speeds m/s. Positions are in the map frame; z = 0 is the floor at the map origin.
#pragma once

#include <Eigen/Geometry>

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "lidar_sim/ground_truth.hpp"

namespace lidar_sim {

// A scenario file that cannot be used; the message names the file, the key and what was wrong.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Waypoint {
  double x{0.0};
  double y{0.0};
  double wait{0.0};  // seconds spent standing here after arriving
};

// A route followed at constant speed; turns at waypoints take |angle| / turn_rate seconds.
struct PathSpec {
  std::vector<Waypoint> waypoints;  // at least one
  double speed{1.0};                // > 0
  double turn_rate{0.0};            // rad/s; 0 turns instantly
  bool loop{false};                 // drive back to the first waypoint and start again
  double start_delay{0.0};          // seconds standing at the first waypoint before starting
  double initial_yaw{0.0};          // heading before the first move, used when there is none
};

struct FloorBump {
  double x{0.0};
  double y{0.0};
  double length{0.5};
  double width{0.5};
  double height{0.03};
  double yaw{0.0};
};

struct FloorSpec {
  double height{0.0};            // floor height at the map origin
  double slope_x{0.0};           // dz/dx
  double slope_y{0.0};           // dz/dy
  std::vector<FloorBump> bumps;  // low boxes on the floor, labelled ground
  double reflectivity{0.15};
};

struct WallSpec {
  Eigen::Vector2d from{0.0, 0.0};
  Eigen::Vector2d to{1.0, 0.0};
  double thickness{0.1};
  double height{2.5};
  double reflectivity{0.5};
};

// Static furniture. Shapes: "box" (a solid block), "table" (a top on four legs), "chair" (seat,
// back and four legs), "cylinder" (round pillar or bin; length is the diameter).
struct StaticObjectSpec {
  std::string shape{"box"};
  ObjectClass object_class{ObjectClass::kFurniture};
  double x{0.0};
  double y{0.0};
  double z{0.0};  // bottom above the floor
  double length{0.5};
  double width{0.5};
  double height{0.8};
  double yaw{0.0};
  double reflectivity{0.6};
};

// Randomly placed boxes, drawn once from the scenario seed.
struct ScatterSpec {
  int count{0};
  Eigen::Vector2d area_min{-5.0, -5.0};
  Eigen::Vector2d area_max{5.0, 5.0};
  Eigen::Vector3d size_min{0.3, 0.3, 0.3};  // length, width, height
  Eigen::Vector3d size_max{1.0, 1.0, 1.0};
  double reflectivity{0.6};
};

// A moving agent: a person, or a cart or cyclist.
struct AgentSpec {
  ObjectClass object_class{ObjectClass::kPerson};
  double height{1.75};  // people: 1.5 to 1.9 m
  PathSpec path;
  double reflectivity{0.35};
};

struct RobotSpec {
  PathSpec path;
  // The robot's body on the floor (length along its heading, width), centred on the base frame.
  Eigen::Vector2d footprint{0.7, 0.5};
};

enum class ScanPatternType { kSpinning, kRosette };

struct LidarSpec {
  ScanPatternType pattern{ScanPatternType::kSpinning};
  Eigen::Isometry3d mount{Eigen::Isometry3d::Identity()};  // base_footprint -> lidar
  double frame_period{0.1};
  // Spinning: ring elevation angles (ascending), azimuth step per firing column.
  std::vector<double> vertical_angles;
  double azimuth_step{0.0};
  // Rosette: points per frame, two prisms' rates (Hz, signed), the cone's half-angle and axis
  // elevation, the axis' azimuth rate (Hz; 0 keeps it looking along +x), laser count.
  int points_per_frame{20000};
  double prism_rate_1{1873.3};
  double prism_rate_2{-1413.7};
  double cone_half_angle{0.0};
  double cone_elevation{0.0};
  double azimuth_rate{10.03};
  int lasers{4};
  double laser_spacing{0.0};  // elevation step between lasers, radians
  // Both: measurement model.
  double range_noise_sigma{0.01};
  double min_range{0.1};
  double max_range{40.0};
  double dropout_probability{0.0};
};

struct FrameIds {
  std::string map{"map"};
  std::string base{"base_footprint"};
  std::string lidar{"3d_lidar_link"};
};

struct Scenario {
  std::string name;
  std::uint32_t seed{1};
  int frames{100};
  double start_time{1000.0};  // ROS time of frame 0, seconds
  double motion_step{0.001};  // scene and robot are moved in steps this long within a frame
  FrameIds frame_ids;
  LidarSpec lidar;
  FloorSpec floor;
  bool has_ceiling{false};
  double ceiling_height{3.0};
  double ceiling_reflectivity{0.4};
  std::vector<WallSpec> walls;
  std::vector<StaticObjectSpec> objects;
  std::vector<ScatterSpec> scatters;
  std::vector<AgentSpec> agents;
  RobotSpec robot;
};

// Built-in sensor presets: "spinning16" (16 rings, -15..15 deg, 0.2 deg step), "spinning32"
// (32 rings, -25..15 deg) and "livox" (rosette, 20k points per 0.1 s frame). Throws
// ScenarioError for an unknown name.
LidarSpec lidarPreset(const std::string& name);

// Reads and validates a scenario; throws ScenarioError with the file, key and reason. A person's
// or mover's route that walks through a wall or static object (its footprint swept along the
// route) is refused, naming the agent and the obstacle, and so is one on which the agent walks
// into the robot's body at some frame, naming the time.
Scenario loadScenario(const std::string& path);
// Same for an already parsed document; `source` names it in error messages.
Scenario parseScenario(const YAML::Node& root, const std::string& source);

}  // namespace lidar_sim
