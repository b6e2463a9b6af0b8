#include "lidar_sim/scenario.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "lidar_sim/agent_model.hpp"
#include "lidar_sim/path_timeline.hpp"
#include "yaml_fields.hpp"

namespace lidar_sim {

namespace {

constexpr double kDegToRad = M_PI / 180.0;

std::string indexed(const std::string& list, std::size_t i) {
  return fmt::format("{}[{}]", list, i);
}

void requirePositive(const YamlFields& fields, const std::string& key, double value) {
  if (!(value > 0.0)) {
    fields.fail(key, fmt::format("must be > 0, got {}", value));
  }
}

void requireNonNegative(const YamlFields& fields, const std::string& key, double value) {
  if (value < 0.0) {
    fields.fail(key, fmt::format("must be >= 0, got {}", value));
  }
}

void requireInRange(const YamlFields& fields, const std::string& key, double value, double low,
                    double high) {
  if (value < low || value > high) {
    fields.fail(key, fmt::format("must lie in [{}, {}], got {}", low, high, value));
  }
}

// A sequence (for each entry of a list key); absent means empty.
YAML::Node sequenceOf(const YamlFields& fields, const std::string& key) {
  const YAML::Node node = fields.child(key);
  if (!fields.has(key)) {
    return YAML::Node(YAML::NodeType::Sequence);
  }
  if (!node.IsSequence()) {
    fields.fail(key, "expected a sequence");
  }
  return node;
}

std::vector<Waypoint> parseWaypoints(const YamlFields& owner, const std::string& key) {
  if (!owner.has(key)) {
    owner.fail(key, "required key is missing");
  }
  const YAML::Node list = sequenceOf(owner, key);
  if (list.size() == 0) {
    owner.fail(key, "expected at least one waypoint");
  }
  std::vector<Waypoint> waypoints;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string path = indexed(owner.pathOf(key), i);
    const YAML::Node entry = list[i];
    if (!entry.IsSequence() || (entry.size() != 2 && entry.size() != 3)) {
      YamlFields::failAt(owner.source(), path, entry,
                         "expected a waypoint [x, y] or [x, y, wait_seconds]");
    }
    YAML::Node wrapper;
    wrapper["p"] = entry;
    const std::vector<double> values =
        YamlFields(wrapper, owner.source(), path).numbers("p", entry.size());
    Waypoint waypoint{values[0], values[1], values.size() == 3 ? values[2] : 0.0};
    if (waypoint.wait < 0.0) {
      YamlFields::failAt(owner.source(), path, entry, "wait time must be >= 0");
    }
    waypoints.push_back(waypoint);
  }
  return waypoints;
}

PathSpec parsePath(const YamlFields& fields, double default_speed, double max_speed) {
  PathSpec path;
  path.waypoints = parseWaypoints(fields, "path");
  path.speed = fields.number("speed", default_speed);
  requirePositive(fields, "speed", path.speed);
  if (path.speed > max_speed) {
    fields.fail("speed", fmt::format("must be <= {} m/s, got {}", max_speed, path.speed));
  }
  path.turn_rate = fields.number("turn_rate_deg", 0.0) * kDegToRad;
  requireNonNegative(fields, "turn_rate_deg", path.turn_rate);
  path.loop = fields.boolean("loop", false);
  path.start_delay = fields.number("start_delay", 0.0);
  requireNonNegative(fields, "start_delay", path.start_delay);
  path.initial_yaw = fields.number("yaw_deg", 0.0) * kDegToRad;
  return path;
}

Eigen::Isometry3d parseMount(const YamlFields& lidar) {
  const YamlFields mount(lidar.child("mount"), lidar.source(), lidar.pathOf("mount"));
  mount.rejectUnknown({"xyz", "rpy_deg"});
  const std::vector<double> xyz =
      mount.has("xyz") ? mount.numbers("xyz", 3) : std::vector<double>{0.0, 0.0, 0.3};
  const std::vector<double> rpy =
      mount.has("rpy_deg") ? mount.numbers("rpy_deg", 3) : std::vector<double>{0.0, 0.0, 0.0};
  Eigen::Isometry3d transform = Eigen::Isometry3d::Identity();
  transform.translation() = Eigen::Vector3d(xyz[0], xyz[1], xyz[2]);
  transform.linear() = (Eigen::AngleAxisd(rpy[2] * kDegToRad, Eigen::Vector3d::UnitZ()) *
                        Eigen::AngleAxisd(rpy[1] * kDegToRad, Eigen::Vector3d::UnitY()) *
                        Eigen::AngleAxisd(rpy[0] * kDegToRad, Eigen::Vector3d::UnitX()))
                           .toRotationMatrix();
  return transform;
}

LidarSpec parseLidar(const YamlFields& root) {
  const YamlFields lidar(root.child("lidar"), root.source(), "lidar");
  lidar.rejectUnknown({"preset", "mount", "frame_period", "vertical_angles_deg", "azimuth_step_deg",
                       "points_per_frame", "prism_rates_hz", "cone_half_angle_deg",
                       "cone_elevation_deg", "azimuth_rate_hz", "lasers", "laser_spacing_deg",
                       "range_noise_sigma", "min_range", "max_range", "dropout_probability"});
  LidarSpec spec;
  try {
    spec = lidarPreset(lidar.text("preset", "spinning16"));
  } catch (const ScenarioError& error) {
    lidar.fail("preset", error.what());
  }
  spec.mount = parseMount(lidar);
  spec.frame_period = lidar.number("frame_period", spec.frame_period);
  requireInRange(lidar, "frame_period", spec.frame_period, 0.01, 1.0);
  if (lidar.has("vertical_angles_deg")) {
    spec.vertical_angles.clear();
    for (double angle : lidar.numbers("vertical_angles_deg", 0)) {
      spec.vertical_angles.push_back(angle * kDegToRad);
    }
    if (spec.vertical_angles.size() > 128) {
      lidar.fail("vertical_angles_deg", "at most 128 rings are supported");
    }
  }
  spec.azimuth_step = lidar.number("azimuth_step_deg", spec.azimuth_step / kDegToRad) * kDegToRad;
  spec.points_per_frame = lidar.integer("points_per_frame", spec.points_per_frame);
  if (lidar.has("prism_rates_hz")) {
    const std::vector<double> rates = lidar.numbers("prism_rates_hz", 2);
    spec.prism_rate_1 = rates[0];
    spec.prism_rate_2 = rates[1];
  }
  spec.cone_half_angle =
      lidar.number("cone_half_angle_deg", spec.cone_half_angle / kDegToRad) * kDegToRad;
  spec.cone_elevation =
      lidar.number("cone_elevation_deg", spec.cone_elevation / kDegToRad) * kDegToRad;
  spec.azimuth_rate = lidar.number("azimuth_rate_hz", spec.azimuth_rate);
  spec.lasers = lidar.integer("lasers", spec.lasers);
  spec.laser_spacing =
      lidar.number("laser_spacing_deg", spec.laser_spacing / kDegToRad) * kDegToRad;
  spec.range_noise_sigma = lidar.number("range_noise_sigma", spec.range_noise_sigma);
  spec.min_range = lidar.number("min_range", spec.min_range);
  spec.max_range = lidar.number("max_range", spec.max_range);
  spec.dropout_probability = lidar.number("dropout_probability", spec.dropout_probability);

  if (spec.pattern == ScanPatternType::kSpinning) {
    if (!(spec.azimuth_step > 0.0) || spec.azimuth_step > M_PI / 4) {
      lidar.fail("azimuth_step_deg",
                 fmt::format("must lie in (0, 45], got {}", spec.azimuth_step / kDegToRad));
    }
  } else {
    requireInRange(lidar, "points_per_frame", spec.points_per_frame, 1, 2'000'000);
    requireInRange(lidar, "cone_half_angle_deg", spec.cone_half_angle / kDegToRad, 1.0, 89.0);
    requireInRange(lidar, "lasers", spec.lasers, 1, 32);
  }
  requireNonNegative(lidar, "range_noise_sigma", spec.range_noise_sigma);
  requireNonNegative(lidar, "min_range", spec.min_range);
  if (!(spec.max_range > spec.min_range)) {
    lidar.fail("max_range",
               fmt::format("must exceed min_range ({}), got {}", spec.min_range, spec.max_range));
  }
  if (spec.dropout_probability < 0.0 || spec.dropout_probability >= 1.0) {
    lidar.fail("dropout_probability",
               fmt::format("must lie in [0, 1), got {}", spec.dropout_probability));
  }
  return spec;
}

FloorSpec parseFloor(const YamlFields& root) {
  const YamlFields floor(root.child("floor"), root.source(), "floor");
  floor.rejectUnknown({"height", "slope", "bumps", "reflectivity"});
  FloorSpec spec;
  spec.height = floor.number("height", 0.0);
  if (floor.has("slope")) {
    const std::vector<double> slope = floor.numbers("slope", 2);
    spec.slope_x = slope[0];
    spec.slope_y = slope[1];
    if (std::abs(spec.slope_x) > 0.2 || std::abs(spec.slope_y) > 0.2) {
      floor.fail("slope", "a floor steeper than 0.2 (11 degrees) is not supported");
    }
  }
  spec.reflectivity = floor.number("reflectivity", spec.reflectivity);
  requireInRange(floor, "reflectivity", spec.reflectivity, 0.0, 1.0);
  const YAML::Node bumps = sequenceOf(floor, "bumps");
  for (std::size_t i = 0; i < bumps.size(); ++i) {
    const YamlFields bump(bumps[i], root.source(), indexed("floor.bumps", i));
    bump.rejectUnknown({"x", "y", "length", "width", "height", "yaw_deg"});
    FloorBump spec_bump;
    spec_bump.x = bump.number("x");
    spec_bump.y = bump.number("y");
    spec_bump.length = bump.number("length", spec_bump.length);
    spec_bump.width = bump.number("width", spec_bump.width);
    spec_bump.height = bump.number("height", spec_bump.height);
    spec_bump.yaw = bump.number("yaw_deg", 0.0) * kDegToRad;
    requirePositive(bump, "length", spec_bump.length);
    requirePositive(bump, "width", spec_bump.width);
    requireInRange(bump, "height", spec_bump.height, 0.001, 0.1);
    spec.bumps.push_back(spec_bump);
  }
  return spec;
}

// `names` gets the key of every wall piece (the four pieces of a rectangle share theirs).
void parseWalls(const YamlFields& root, Scenario& scenario, std::vector<std::string>& names) {
  const YAML::Node walls = sequenceOf(root, "walls");
  for (std::size_t i = 0; i < walls.size(); ++i) {
    const YamlFields wall(walls[i], root.source(), indexed("walls", i));
    wall.rejectUnknown({"from", "to", "rectangle", "thickness", "height", "reflectivity"});
    WallSpec spec;
    spec.thickness = wall.number("thickness", spec.thickness);
    spec.height = wall.number("height", spec.height);
    spec.reflectivity = wall.number("reflectivity", spec.reflectivity);
    requirePositive(wall, "thickness", spec.thickness);
    requirePositive(wall, "height", spec.height);
    requireInRange(wall, "reflectivity", spec.reflectivity, 0.0, 1.0);
    if (wall.has("rectangle")) {
      // Four walls around [xmin, ymin, xmax, ymax], their inner faces on the rectangle.
      const std::vector<double> r = wall.numbers("rectangle", 4);
      if (!(r[2] > r[0]) || !(r[3] > r[1])) {
        wall.fail("rectangle", "expected [xmin, ymin, xmax, ymax] with xmin < xmax, ymin < ymax");
      }
      const double h = spec.thickness / 2.0;
      const Eigen::Vector2d corners[4] = {
          {r[0] - h, r[1] - h}, {r[2] + h, r[1] - h}, {r[2] + h, r[3] + h}, {r[0] - h, r[3] + h}};
      for (int side = 0; side < 4; ++side) {
        WallSpec piece = spec;
        piece.from = corners[side];
        piece.to = corners[(side + 1) % 4];
        scenario.walls.push_back(piece);
        names.push_back(indexed("walls", i));
      }
      continue;
    }
    const std::vector<double> from = wall.numbers("from", 2);
    const std::vector<double> to = wall.numbers("to", 2);
    spec.from = Eigen::Vector2d(from[0], from[1]);
    spec.to = Eigen::Vector2d(to[0], to[1]);
    if ((spec.to - spec.from).norm() < 1e-3) {
      wall.fail("to", "a wall needs two distinct end points");
    }
    scenario.walls.push_back(spec);
    names.push_back(indexed("walls", i));
  }
}

void parseObjects(const YamlFields& root, Scenario& scenario) {
  const YAML::Node objects = sequenceOf(root, "objects");
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const YamlFields object(objects[i], root.source(), indexed("objects", i));
    object.rejectUnknown({"shape", "class", "x", "y", "z", "length", "width", "height", "diameter",
                          "yaw_deg", "reflectivity"});
    StaticObjectSpec spec;
    spec.shape = object.text("shape", "box");
    if (spec.shape != "box" && spec.shape != "table" && spec.shape != "chair" &&
        spec.shape != "cylinder") {
      object.fail("shape", fmt::format("unknown shape '{}' (known: box, table, chair, cylinder)",
                                       spec.shape));
    }
    const std::string class_name =
        object.text("class", spec.shape == "cylinder" ? "pillar" : "furniture");
    try {
      spec.object_class = objectClassFromString(class_name);
    } catch (const std::invalid_argument& error) {
      object.fail("class", error.what());
    }
    if (spec.object_class != ObjectClass::kFurniture && spec.object_class != ObjectClass::kPillar &&
        spec.object_class != ObjectClass::kWall) {
      object.fail("class", "static objects are furniture, pillar or wall");
    }
    spec.x = object.number("x");
    spec.y = object.number("y");
    spec.z = object.number("z", 0.0);
    requireNonNegative(object, "z", spec.z);
    if (spec.shape == "cylinder") {
      spec.length = spec.width = object.number("diameter", 0.4);
      requirePositive(object, "diameter", spec.length);
    } else {
      spec.length = object.number("length", spec.length);
      spec.width = object.number("width", spec.width);
      requirePositive(object, "length", spec.length);
      requirePositive(object, "width", spec.width);
    }
    spec.height = object.number("height", spec.shape == "cylinder" ? 2.5 : spec.height);
    requirePositive(object, "height", spec.height);
    spec.yaw = object.number("yaw_deg", 0.0) * kDegToRad;
    spec.reflectivity = object.number("reflectivity", spec.reflectivity);
    requireInRange(object, "reflectivity", spec.reflectivity, 0.0, 1.0);
    scenario.objects.push_back(spec);
  }

  const YAML::Node scatters = sequenceOf(root, "scatter");
  for (std::size_t i = 0; i < scatters.size(); ++i) {
    const YamlFields scatter(scatters[i], root.source(), indexed("scatter", i));
    scatter.rejectUnknown({"count", "area", "size_min", "size_max", "reflectivity"});
    ScatterSpec spec;
    spec.count = scatter.integer("count", 0);
    requireInRange(scatter, "count", spec.count, 0, 1000);
    const std::vector<double> area = scatter.numbers("area", 4);
    spec.area_min = Eigen::Vector2d(area[0], area[1]);
    spec.area_max = Eigen::Vector2d(area[2], area[3]);
    if (!(area[2] > area[0]) || !(area[3] > area[1])) {
      scatter.fail("area", "expected [xmin, ymin, xmax, ymax] with xmin < xmax, ymin < ymax");
    }
    if (scatter.has("size_min")) {
      const std::vector<double> size = scatter.numbers("size_min", 3);
      spec.size_min = Eigen::Vector3d(size[0], size[1], size[2]);
    }
    if (scatter.has("size_max")) {
      const std::vector<double> size = scatter.numbers("size_max", 3);
      spec.size_max = Eigen::Vector3d(size[0], size[1], size[2]);
    }
    if (!(spec.size_min.minCoeff() > 0.0) ||
        !(spec.size_max.array() >= spec.size_min.array()).all()) {
      scatter.fail("size_max", "sizes must be > 0 and size_max >= size_min in every entry");
    }
    spec.reflectivity = scatter.number("reflectivity", spec.reflectivity);
    requireInRange(scatter, "reflectivity", spec.reflectivity, 0.0, 1.0);
    scenario.scatters.push_back(spec);
  }
}

// A shape on the floor plan: an oriented rectangle, or a disc where radius >= 0.
struct Footprint {
  Eigen::Vector2d centre{0.0, 0.0};
  Eigen::Vector2d half{0.0, 0.0};  // half length (along yaw) and half width of a rectangle
  double yaw{0.0};
  double radius{-1.0};

  bool round() const { return radius >= 0.0; }
};

Footprint rectangle(const Eigen::Vector2d& centre, double length, double width, double yaw) {
  Footprint shape;
  shape.centre = centre;
  shape.half = Eigen::Vector2d(length / 2.0, width / 2.0);
  shape.yaw = yaw;
  return shape;
}

Footprint disc(const Eigen::Vector2d& centre, double radius) {
  Footprint shape;
  shape.centre = centre;
  shape.radius = radius;
  return shape;
}

// Half the extent of a rectangle along the unit vector `axis`.
double halfExtent(const Footprint& r, const Eigen::Vector2d& axis) {
  const Eigen::Vector2d along(std::cos(r.yaw), std::sin(r.yaw));
  const Eigen::Vector2d across(-along.y(), along.x());
  return r.half.x() * std::abs(axis.dot(along)) + r.half.y() * std::abs(axis.dot(across));
}

bool discMeetsRectangle(const Footprint& round, const Footprint& r) {
  const Eigen::Vector2d offset = round.centre - r.centre;
  const double c = std::cos(r.yaw);
  const double s = std::sin(r.yaw);
  const Eigen::Vector2d local(c * offset.x() + s * offset.y(), -s * offset.x() + c * offset.y());
  const Eigen::Vector2d nearest = local.cwiseMax(-r.half).cwiseMin(r.half);
  return (local - nearest).norm() < round.radius;
}

// Two convex rectangles overlap unless one of their four edge directions separates them.
bool rectanglesMeet(const Footprint& a, const Footprint& b) {
  const Eigen::Vector2d offset = b.centre - a.centre;
  for (double yaw : {a.yaw, b.yaw}) {
    const Eigen::Vector2d along(std::cos(yaw), std::sin(yaw));
    for (const Eigen::Vector2d& axis : {along, Eigen::Vector2d(-along.y(), along.x())}) {
      if (std::abs(offset.dot(axis)) >= halfExtent(a, axis) + halfExtent(b, axis)) {
        return false;
      }
    }
  }
  return true;
}

bool footprintsMeet(const Footprint& a, const Footprint& b) {
  if (a.round() && b.round()) {
    return (a.centre - b.centre).norm() < a.radius + b.radius;
  }
  if (a.round()) {
    return discMeetsRectangle(a, b);
  }
  if (b.round()) {
    return discMeetsRectangle(b, a);
  }
  return rectanglesMeet(a, b);
}

std::string pointText(const Eigen::Vector2d& p) {
  return fmt::format("[{:g}, {:g}]", p.x(), p.y());
}

// A wall or static object as an agent meets it: its footprint, and its bottom above the floor
// (an agent lower than that passes underneath).
struct Obstacle {
  Footprint footprint;
  double bottom{0.0};
  std::string name;  // key and description, e.g. "objects[3] (cylinder pillar at [5.5, 2])"
};

std::vector<Obstacle> obstaclesOf(const Scenario& scenario,
                                  const std::vector<std::string>& wall_names) {
  std::vector<Obstacle> obstacles;
  for (std::size_t i = 0; i < scenario.walls.size(); ++i) {
    const WallSpec& wall = scenario.walls[i];
    const Eigen::Vector2d along = wall.to - wall.from;
    obstacles.push_back({rectangle((wall.from + wall.to) / 2.0, along.norm(), wall.thickness,
                                   std::atan2(along.y(), along.x())),
                         0.0,
                         fmt::format("{} (wall from {} to {})", wall_names[i], pointText(wall.from),
                                     pointText(wall.to))});
  }
  for (std::size_t i = 0; i < scenario.objects.size(); ++i) {
    const StaticObjectSpec& object = scenario.objects[i];
    const Eigen::Vector2d centre(object.x, object.y);
    // Tables and chairs count whole: a walking body does not fit between their legs.
    const Footprint footprint = object.shape == "cylinder"
                                    ? disc(centre, std::max(object.length, object.width) / 2.0)
                                    : rectangle(centre, object.length, object.width, object.yaw);
    obstacles.push_back({footprint, object.z,
                         fmt::format("{} ({} {} at {})", indexed("objects", i), object.shape,
                                     toString(object.object_class), pointText(centre))});
  }
  return obstacles;
}

// The floor an agent covers along its route: a rectangle for every straight leg (its footprint
// swept from end to end), a disc for every turn in place (the footprint rotating about its
// centre), its footprint where it never moves. Each comes with where on the route it is.
std::vector<std::pair<Footprint, std::string>> routeFootprints(const AgentSpec& agent) {
  // Brushing past an obstacle by less than this is not walking through it.
  constexpr double kGrazing = 0.01;
  const Eigen::Vector2d size =
      (agentFootprint(agent) - Eigen::Vector2d::Constant(2.0 * kGrazing)).cwiseMax(0.0);
  const std::vector<Waypoint>& points = agent.path.waypoints;
  const std::size_t count = points.size();
  const std::size_t legs = agent.path.loop ? count : count - 1;
  auto point = [&](std::size_t i) {
    return Eigen::Vector2d(points[i % count].x, points[i % count].y);
  };
  std::vector<std::pair<Footprint, std::string>> covered;
  std::vector<std::pair<Eigen::Vector2d, double>> leg_ends;  // end point and heading of each leg
  for (std::size_t i = 0; i < legs; ++i) {
    const Eigen::Vector2d from = point(i);
    const Eigen::Vector2d to = point(i + 1);
    const Eigen::Vector2d delta = to - from;
    if (delta.norm() <= 1e-9) {
      continue;
    }
    const double yaw = std::atan2(delta.y(), delta.x());
    covered.emplace_back(rectangle((from + to) / 2.0, delta.norm() + size.x(), size.y(), yaw),
                         fmt::format("on the way from {} to {}", pointText(from), pointText(to)));
    leg_ends.emplace_back(to, yaw);
  }
  if (leg_ends.empty()) {
    covered.emplace_back(rectangle(point(0), size.x(), size.y(), agent.path.initial_yaw),
                         fmt::format("standing at {}", pointText(point(0))));
    return covered;
  }
  // A looping route turns back to its first heading where it closes.
  const std::size_t turns = agent.path.loop ? leg_ends.size() : leg_ends.size() - 1;
  for (std::size_t k = 0; k < turns; ++k) {
    const double turn =
        std::remainder(leg_ends[(k + 1) % leg_ends.size()].second - leg_ends[k].second, 2.0 * M_PI);
    if (std::abs(turn) > 1e-6) {
      covered.emplace_back(disc(leg_ends[k].first, size.norm() / 2.0),
                           fmt::format("turning at {}", pointText(leg_ends[k].first)));
    }
  }
  return covered;
}

// Rejects a route on which the agent would walk through a wall or static object: such a scan
// has points of the agent inside solid structure, which no sensor can see.
void checkRouteIsClear(const YamlFields& fields, const AgentSpec& agent,
                       const std::vector<Obstacle>& obstacles) {
  for (const auto& [swept, where] : routeFootprints(agent)) {
    for (const Obstacle& obstacle : obstacles) {
      if (obstacle.bottom < agent.height && footprintsMeet(swept, obstacle.footprint)) {
        fields.fail("path", fmt::format("the {} walks through {} {}; route it around the obstacle",
                                        toString(agent.object_class), obstacle.name, where));
      }
    }
  }
}

// Rejects an agent that walks into the robot: its points would lie inside the robot's body, which
// the sensor cannot see through, and a detector would lose everything behind them. Checked at
// every frame and half-frame, which a walker crosses in a few centimetres.
void checkAgentsClearOfRobot(const YamlFields& root, const Scenario& scenario) {
  // Brushing past the robot by less than this is not walking into it.
  constexpr double kGrazing = 0.01;
  const PathTimeline robot(scenario.robot.path);
  const std::size_t people = sequenceOf(root, "people").size();
  const double step = 0.5 * scenario.lidar.frame_period;
  const int steps = 2 * scenario.frames;
  for (std::size_t a = 0; a < scenario.agents.size(); ++a) {
    const AgentSpec& agent = scenario.agents[a];
    const PathTimeline route(agent.path);
    const Eigen::Vector2d size =
        (agentFootprint(agent) - Eigen::Vector2d::Constant(2.0 * kGrazing)).cwiseMax(0.0);
    // Apart, the two cannot meet sooner than their gap allows at both their speeds: skip ahead.
    // Close, the answer changes only once one of them has moved or turned.
    const double reach = 0.5 * (size.norm() + scenario.robot.footprint.norm());
    const double closing = agent.path.speed + scenario.robot.path.speed;
    PathState body_checked;
    PathState walker_checked;
    bool checked = false;
    for (int k = 0; k <= steps;) {
      const double time = step * k;
      const PathState body = robot.at(time);
      const PathState walker = route.at(time);
      const double gap = (walker.position - body.position).norm() - reach;
      if (gap > 0.0) {
        k += std::max(1, static_cast<int>(std::min(gap / closing / step, 1.0e9)));
        continue;
      }
      // Within a millimetre and a milliradian of the last check, nothing can have changed.
      if (checked && (body.position - body_checked.position).norm() < 1e-3 &&
          std::abs(body.yaw - body_checked.yaw) < 1e-3 &&
          (walker.position - walker_checked.position).norm() < 1e-3 &&
          std::abs(walker.yaw - walker_checked.yaw) < 1e-3) {
        ++k;
        continue;
      }
      body_checked = body;
      walker_checked = walker;
      checked = true;
      if (footprintsMeet(rectangle(walker.position, size.x(), size.y(), walker.yaw),
                         rectangle(body.position, scenario.robot.footprint.x(),
                                   scenario.robot.footprint.y(), body.yaw))) {
        // Agents are people first, then movers, each in file order.
        const std::string list = a < people ? "people" : "movers";
        const std::size_t index = a < people ? a : a - people;
        const YamlFields fields(sequenceOf(root, list)[index], root.source(), indexed(list, index));
        fields.fail("path",
                    fmt::format("the {} walks into the robot at {:.2f} s (frame {}), at {}; "
                                "route it around the robot's path",
                                toString(agent.object_class), time,
                                static_cast<int>(time / scenario.lidar.frame_period),
                                pointText(walker.position)));
      }
      ++k;
    }
  }
}

// Rejects an agent that shares floor with one already placed: two standing on the same spot,
// or one walking through another that stands still. Their points would lie inside each other's
// bodies, and no sensor sees two people in one place. Walkers that cross paths are left alone:
// they meet for a moment only, where real people step aside.
void checkAgentClearOfOthers(const YamlFields& fields, const AgentSpec& agent,
                             const std::vector<AgentSpec>& placed) {
  const auto standing = [](const AgentSpec& spec) { return spec.path.waypoints.size() == 1; };
  for (const AgentSpec& other : placed) {
    if (!standing(agent) && !standing(other)) {
      continue;
    }
    for (const auto& [swept, where] : routeFootprints(agent)) {
      for (const auto& [other_swept, other_where] : routeFootprints(other)) {
        if (footprintsMeet(swept, other_swept)) {
          fields.fail("path", fmt::format("the {} {} meets the {} {}; move one of them apart",
                                          toString(agent.object_class), where,
                                          toString(other.object_class), other_where));
        }
      }
    }
  }
}

void parseAgents(const YamlFields& root, Scenario& scenario,
                 const std::vector<Obstacle>& obstacles) {
  const YAML::Node people = sequenceOf(root, "people");
  for (std::size_t i = 0; i < people.size(); ++i) {
    const YamlFields person(people[i], root.source(), indexed("people", i));
    person.rejectUnknown({"height", "speed", "path", "loop", "start_delay", "yaw_deg",
                          "turn_rate_deg", "reflectivity"});
    AgentSpec spec;
    spec.object_class = ObjectClass::kPerson;
    spec.height = person.number("height", 1.75);
    requireInRange(person, "height", spec.height, 1.0, 2.2);
    spec.path = parsePath(person, 1.0, 3.0);
    spec.reflectivity = person.number("reflectivity", spec.reflectivity);
    requireInRange(person, "reflectivity", spec.reflectivity, 0.0, 1.0);
    checkRouteIsClear(person, spec, obstacles);
    checkAgentClearOfOthers(person, spec, scenario.agents);
    scenario.agents.push_back(spec);
  }
  const YAML::Node movers = sequenceOf(root, "movers");
  for (std::size_t i = 0; i < movers.size(); ++i) {
    const YamlFields mover(movers[i], root.source(), indexed("movers", i));
    mover.rejectUnknown({"class", "speed", "path", "loop", "start_delay", "yaw_deg",
                         "turn_rate_deg", "reflectivity"});
    AgentSpec spec;
    const std::string class_name = mover.text("class", "cart");
    if (class_name != "cart" && class_name != "cyclist") {
      mover.fail("class", fmt::format("unknown mover '{}' (known: cart, cyclist)", class_name));
    }
    spec.object_class = objectClassFromString(class_name);
    spec.height = spec.object_class == ObjectClass::kCart ? 1.0 : 1.7;
    spec.path = parsePath(mover, 1.0, 6.0);
    spec.reflectivity = mover.number("reflectivity", 0.5);
    requireInRange(mover, "reflectivity", spec.reflectivity, 0.0, 1.0);
    checkRouteIsClear(mover, spec, obstacles);
    checkAgentClearOfOthers(mover, spec, scenario.agents);
    scenario.agents.push_back(spec);
  }
}

}  // namespace

LidarSpec lidarPreset(const std::string& name) {
  LidarSpec spec;
  if (name == "spinning16" || name == "spinning32") {
    spec.pattern = ScanPatternType::kSpinning;
    const int rings = name == "spinning16" ? 16 : 32;
    const double lowest = name == "spinning16" ? -15.0 : -25.0;
    const double step = name == "spinning16" ? 2.0 : 40.0 / 31.0;
    for (int ring = 0; ring < rings; ++ring) {
      spec.vertical_angles.push_back((lowest + step * ring) * kDegToRad);
    }
    spec.azimuth_step = 0.2 * kDegToRad;
    spec.max_range = 100.0;
    return spec;
  }
  if (name == "livox") {
    spec.pattern = ScanPatternType::kRosette;
    spec.points_per_frame = 20000;
    spec.cone_half_angle = 35.0 * kDegToRad;
    spec.cone_elevation = 10.0 * kDegToRad;
    spec.laser_spacing = 1.0 * kDegToRad;
    spec.min_range = 0.1;
    spec.max_range = 40.0;
    return spec;
  }
  throw ScenarioError(
      fmt::format("unknown lidar preset '{}' (known: spinning16, spinning32, livox)", name));
}

Scenario parseScenario(const YAML::Node& document, const std::string& source) {
  const YamlFields root(document, source, "");
  root.rejectUnknown({"name", "seed", "frames", "start_time", "motion_step", "frame_ids", "lidar",
                      "floor", "ceiling", "walls", "objects", "scatter", "people", "movers",
                      "robot"});
  Scenario scenario;
  scenario.name = root.text("name", "unnamed");
  const double seed = root.number("seed", 1.0);
  if (seed < 0 || seed > 4294967295.0 || std::floor(seed) != seed) {
    root.fail("seed", fmt::format("expected an integer in [0, 4294967295], got {}", seed));
  }
  scenario.seed = static_cast<std::uint32_t>(seed);
  scenario.frames = root.integer("frames", scenario.frames);
  requireInRange(root, "frames", scenario.frames, 1, 1'000'000);
  scenario.start_time = root.number("start_time", scenario.start_time);
  requireInRange(root, "start_time", scenario.start_time, 0.0, 2.0e9);
  scenario.motion_step = root.number("motion_step", scenario.motion_step);
  requireInRange(root, "motion_step", scenario.motion_step, 1e-5, 0.1);

  const YamlFields ids(root.child("frame_ids"), source, "frame_ids");
  ids.rejectUnknown({"map", "base", "lidar"});
  scenario.frame_ids.map = ids.text("map", scenario.frame_ids.map);
  scenario.frame_ids.base = ids.text("base", scenario.frame_ids.base);
  scenario.frame_ids.lidar = ids.text("lidar", scenario.frame_ids.lidar);

  scenario.lidar = parseLidar(root);
  scenario.floor = parseFloor(root);
  if (root.has("ceiling")) {
    const YamlFields ceiling(root.child("ceiling"), source, "ceiling");
    ceiling.rejectUnknown({"height", "reflectivity"});
    scenario.has_ceiling = true;
    scenario.ceiling_height = ceiling.number("height");
    requireInRange(ceiling, "height", scenario.ceiling_height, 1.0, 50.0);
    scenario.ceiling_reflectivity = ceiling.number("reflectivity", scenario.ceiling_reflectivity);
    requireInRange(ceiling, "reflectivity", scenario.ceiling_reflectivity, 0.0, 1.0);
  }
  std::vector<std::string> wall_names;
  parseWalls(root, scenario, wall_names);
  parseObjects(root, scenario);
  parseAgents(root, scenario, obstaclesOf(scenario, wall_names));

  const YamlFields robot(root.child("robot"), source, "robot");
  robot.rejectUnknown(
      {"path", "speed", "turn_rate_deg", "loop", "start_delay", "yaw_deg", "footprint"});
  if (root.has("robot")) {
    scenario.robot.path = parsePath(robot, 0.5, 1.0);
    if (!robot.has("turn_rate_deg")) {
      scenario.robot.path.turn_rate = 60.0 * kDegToRad;
    }
  } else {
    scenario.robot.path.waypoints = {Waypoint{}};
  }
  const std::vector<double> footprint =
      robot.has("footprint")
          ? robot.numbers("footprint", 2)
          : std::vector<double>{scenario.robot.footprint.x(), scenario.robot.footprint.y()};
  requireInRange(robot, "footprint", footprint[0], 0.0, 5.0);
  requireInRange(robot, "footprint", footprint[1], 0.0, 5.0);
  scenario.robot.footprint = Eigen::Vector2d(footprint[0], footprint[1]);
  checkAgentsClearOfRobot(root, scenario);
  return scenario;
}

Scenario loadScenario(const std::string& path) {
  YAML::Node document;
  try {
    document = YAML::LoadFile(path);
  } catch (const YAML::BadFile&) {
    throw ScenarioError(fmt::format("{}: cannot open the scenario file", path));
  } catch (const YAML::Exception& error) {
    throw ScenarioError(
        fmt::format("{}:{}: not valid YAML: {}", path, error.mark.line + 1, error.msg));
  }
  if (!document.IsMap()) {
    throw ScenarioError(fmt::format("{}: expected a mapping of scenario keys at the top", path));
  }
  return parseScenario(document, path);
}

}  // namespace lidar_sim
