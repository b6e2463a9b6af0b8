#include "lidar_sim/scene.hpp"

#include <algorithm>
#include <cmath>
#include <random>

namespace lidar_sim {

namespace {

// Closest distance from `p` to the segment a-b.
double distanceToSegment(const Eigen::Vector2d& p, const Eigen::Vector2d& a,
                         const Eigen::Vector2d& b) {
  const Eigen::Vector2d ab = b - a;
  const double squared = ab.squaredNorm();
  const double t = squared > 0.0 ? std::clamp((p - a).dot(ab) / squared, 0.0, 1.0) : 0.0;
  return (a + t * ab - p).norm();
}

double distanceToRoute(const Eigen::Vector2d& p, const PathSpec& path) {
  double best = std::numeric_limits<double>::infinity();
  const auto& points = path.waypoints;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Eigen::Vector2d a(points[i].x, points[i].y);
    const std::size_t j = (i + 1) % points.size();
    const Eigen::Vector2d b(points[j].x, points[j].y);
    if (j != 0 || path.loop || points.size() == 1) {
      best = std::min(best, distanceToSegment(p, a, b));
    }
  }
  return best;
}

}  // namespace

Scene::Scene(const Scenario& scenario)
    : floor_(scenario.floor),
      has_ceiling_(scenario.has_ceiling),
      ceiling_height_(scenario.ceiling_height),
      ceiling_reflectivity_(static_cast<float>(scenario.ceiling_reflectivity)) {
  if (has_ceiling_) {
    ceiling_id_ = nextId();
  }
  for (const FloorBump& bump : floor_.bumps) {
    SceneBody body;
    body.id = kGroundObjectId;
    body.object_class = ObjectClass::kFloor;
    body.label = PointLabel::kGround;
    body.reflectivity = static_cast<float>(floor_.reflectivity);
    const double base = floorHeight(bump.x, bump.y);
    body.shapes.push_back(RayShape::box(Eigen::Vector3d(bump.x, bump.y, base + bump.height / 2.0),
                                        Eigen::Vector3d(bump.length, bump.width, bump.height),
                                        bump.yaw));
    body.box = ObjectBox{kGroundObjectId, ObjectClass::kFloor, bump.x,      bump.y,   base,
                         bump.length,     bump.width,          bump.height, bump.yaw, 0.0};
    body.updateBounds();
    static_bodies_.push_back(body);
  }
  for (const WallSpec& wall : scenario.walls) {
    addWall(wall);
  }
  for (const StaticObjectSpec& object : scenario.objects) {
    addObject(object);
  }
  scatterBoxes(scenario);

  std::mt19937 gait_rng(scenario.seed ^ 0x9e3779b9U);
  std::uniform_real_distribution<double> phase(0.0, 2.0 * M_PI);
  for (const AgentSpec& agent : scenario.agents) {
    agents_.emplace_back(agent, nextId(), phase(gait_rng));
  }
  agent_bodies_.resize(agents_.size());
  moveTo(0.0);
}

void Scene::addWall(const WallSpec& wall) {
  const Eigen::Vector2d middle = (wall.from + wall.to) / 2.0;
  const Eigen::Vector2d along = wall.to - wall.from;
  const double yaw = std::atan2(along.y(), along.x());
  const double base = floorHeight(middle.x(), middle.y());
  SceneBody body;
  body.id = nextId();
  body.object_class = ObjectClass::kWall;
  body.label = PointLabel::kStatic;
  body.reflectivity = static_cast<float>(wall.reflectivity);
  // Walls reach a little below the floor so that a sloped floor leaves no gap under them.
  const double sunk = 0.2;
  body.shapes.push_back(
      RayShape::box(Eigen::Vector3d(middle.x(), middle.y(), base + (wall.height - sunk) / 2.0),
                    Eigen::Vector3d(along.norm(), wall.thickness, wall.height + sunk), yaw));
  body.box = ObjectBox{body.id,      ObjectClass::kWall, middle.x(),  middle.y(), base,
                       along.norm(), wall.thickness,     wall.height, yaw,        0.0};
  body.updateBounds();
  static_bodies_.push_back(body);
}

void Scene::addObject(const StaticObjectSpec& object) {
  SceneBody body;
  body.id = nextId();
  body.object_class = object.object_class;
  body.label = PointLabel::kStatic;
  body.reflectivity = static_cast<float>(object.reflectivity);
  const double bottom = floorHeight(object.x, object.y) + object.z;
  const double c = std::cos(object.yaw);
  const double s = std::sin(object.yaw);
  // Point at (along, across) in the object's frame, in the map frame.
  auto at = [&](double along, double across) {
    return Eigen::Vector2d(object.x + c * along - s * across, object.y + s * along + c * across);
  };
  auto legs = [&](double top, double inset) {
    const double leg = 0.04;
    for (double along : {-1.0, 1.0}) {
      for (double across : {-1.0, 1.0}) {
        const Eigen::Vector2d p =
            at(along * (object.length / 2.0 - inset), across * (object.width / 2.0 - inset));
        body.shapes.push_back(RayShape::box(Eigen::Vector3d(p.x(), p.y(), bottom + top / 2.0),
                                            Eigen::Vector3d(leg, leg, top), object.yaw));
      }
    }
  };
  if (object.shape == "cylinder") {
    body.shapes.push_back(RayShape::ellipticCylinder(Eigen::Vector2d(object.x, object.y), bottom,
                                                     bottom + object.height, object.length / 2.0,
                                                     object.width / 2.0, object.yaw));
  } else if (object.shape == "table") {
    const double top = 0.04;
    body.shapes.push_back(
        RayShape::box(Eigen::Vector3d(object.x, object.y, bottom + object.height - top / 2.0),
                      Eigen::Vector3d(object.length, object.width, top), object.yaw));
    legs(object.height - top, 0.05);
  } else if (object.shape == "chair") {
    const double seat = std::min(0.45, object.height * 0.6);
    body.shapes.push_back(RayShape::box(Eigen::Vector3d(object.x, object.y, bottom + seat - 0.02),
                                        Eigen::Vector3d(object.length, object.width, 0.04),
                                        object.yaw));
    legs(seat - 0.04, 0.03);
    if (object.height > seat + 0.1) {
      const Eigen::Vector2d back = at(-object.length / 2.0 + 0.02, 0.0);
      body.shapes.push_back(
          RayShape::box(Eigen::Vector3d(back.x(), back.y(), bottom + (seat + object.height) / 2.0),
                        Eigen::Vector3d(0.04, object.width, object.height - seat), object.yaw));
    }
  } else {
    body.shapes.push_back(
        RayShape::box(Eigen::Vector3d(object.x, object.y, bottom + object.height / 2.0),
                      Eigen::Vector3d(object.length, object.width, object.height), object.yaw));
  }
  body.box = ObjectBox{body.id,       object.object_class, object.x,      object.y,   bottom,
                       object.length, object.width,        object.height, object.yaw, 0.0};
  body.updateBounds();
  static_bodies_.push_back(body);
}

void Scene::scatterBoxes(const Scenario& scenario) {
  std::mt19937 rng(scenario.seed ^ 0x5ca77e5U);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const ScatterSpec& scatter : scenario.scatters) {
    for (int i = 0; i < scatter.count; ++i) {
      StaticObjectSpec box;
      box.reflectivity = scatter.reflectivity;
      // Keep routes clear, so that no agent or the robot drives through a box; give up on a box
      // after a few tries in a crowded area rather than loop forever.
      for (int attempt = 0; attempt < 50; ++attempt) {
        box.x = scatter.area_min.x() + unit(rng) * (scatter.area_max.x() - scatter.area_min.x());
        box.y = scatter.area_min.y() + unit(rng) * (scatter.area_max.y() - scatter.area_min.y());
        box.length =
            scatter.size_min.x() + unit(rng) * (scatter.size_max.x() - scatter.size_min.x());
        box.width =
            scatter.size_min.y() + unit(rng) * (scatter.size_max.y() - scatter.size_min.y());
        box.height =
            scatter.size_min.z() + unit(rng) * (scatter.size_max.z() - scatter.size_min.z());
        box.yaw = unit(rng) * M_PI;
        const Eigen::Vector2d centre(box.x, box.y);
        const double clearance = 0.5 * std::hypot(box.length, box.width) + 0.6;
        bool clear = distanceToRoute(centre, scenario.robot.path) > clearance;
        for (const AgentSpec& agent : scenario.agents) {
          clear = clear && distanceToRoute(centre, agent.path) > clearance;
        }
        if (clear) {
          addObject(box);
          break;
        }
      }
    }
  }
}

void Scene::moveTo(double time) {
  for (std::size_t i = 0; i < agents_.size(); ++i) {
    agents_[i].placeAt(time, agent_bodies_[i]);
  }
  candidates_.clear();
  for (const SceneBody& body : static_bodies_) {
    candidates_.push_back(&body);
  }
  for (const SceneBody& body : agent_bodies_) {
    candidates_.push_back(&body);
  }
}

void Scene::restrictToCone(const Eigen::Vector3d& origin, const Eigen::Vector3d& axis,
                           double half_angle) {
  if (half_angle >= M_PI / 2.0) {
    return;  // a cone this wide culls too little to pay for the test
  }
  const double cos_cone = std::cos(half_angle);
  const double sin_cone = std::sin(half_angle);
  auto outside = [&](const SceneBody* body) {
    // Bounding sphere of the body's bounds against the cone.
    const Eigen::Vector3d centre = (body->bounds.min + body->bounds.max) / 2.0;
    const double radius = (body->bounds.max - body->bounds.min).norm() / 2.0;
    const Eigen::Vector3d offset = centre - origin;
    const double distance = offset.norm();
    if (distance <= radius) {
      return false;
    }
    const double along = offset.dot(axis);
    const double across = std::sqrt(std::max(0.0, distance * distance - along * along));
    // Distance from the centre to the cone's surface, negative inside the cone.
    const double to_cone = across * cos_cone - along * sin_cone;
    return to_cone > radius;
  };
  candidates_.erase(std::remove_if(candidates_.begin(), candidates_.end(), outside),
                    candidates_.end());
}

double Scene::floorHeight(double x, double y) const {
  return floor_.height + floor_.slope_x * x + floor_.slope_y * y;
}

Eigen::Vector3d Scene::floorNormal() const {
  return Eigen::Vector3d(-floor_.slope_x, -floor_.slope_y, 1.0).normalized();
}

bool Scene::castRay(const Ray& ray, double max_distance, RayHit& hit) const {
  double best = max_distance;
  bool found = false;
  // Floor plane z = h0 + sx x + sy y, met from above.
  const double towards_floor =
      ray.direction.z() - floor_.slope_x * ray.direction.x() - floor_.slope_y * ray.direction.y();
  if (towards_floor < 0.0) {
    const double t = (floorHeight(ray.origin.x(), ray.origin.y()) - ray.origin.z()) / towards_floor;
    if (t > 0.0 && t < best) {
      best = t;
      found = true;
      hit.normal = floorNormal();
      hit.object_id = kGroundObjectId;
      hit.label = PointLabel::kGround;
      hit.object_class = ObjectClass::kFloor;
      hit.reflectivity = static_cast<float>(floor_.reflectivity);
    }
  }
  if (has_ceiling_ && ray.direction.z() > 0.0) {
    const double t = (ceiling_height_ - ray.origin.z()) / ray.direction.z();
    if (t > 0.0 && t < best) {
      best = t;
      found = true;
      hit.normal = -Eigen::Vector3d::UnitZ();
      hit.object_id = ceiling_id_;
      hit.label = PointLabel::kStatic;
      hit.object_class = ObjectClass::kCeiling;
      hit.reflectivity = ceiling_reflectivity_;
    }
  }
  SurfaceHit surface;
  for (const SceneBody* body : candidates_) {
    if (!body->bounds.isHitBefore(ray, best)) {
      continue;
    }
    for (const RayShape& shape : body->shapes) {
      if (shape.intersect(ray, best, surface)) {
        best = surface.distance;
        found = true;
        hit.normal = surface.normal;
        hit.object_id = body->id;
        hit.label = body->label;
        hit.object_class = body->object_class;
        hit.reflectivity = body->reflectivity;
      }
    }
  }
  if (found) {
    hit.distance = best;
  }
  return found;
}

void Scene::boxesAt(double time, std::vector<ObjectBox>& boxes) const {
  for (const SceneBody& body : static_bodies_) {
    if (body.id != kGroundObjectId) {
      boxes.push_back(body.box);
    }
  }
  for (const AgentModel& agent : agents_) {
    boxes.push_back(agent.boxAt(time));
  }
}

}  // namespace lidar_sim
