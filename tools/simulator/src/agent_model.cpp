#include "lidar_sim/agent_model.hpp"

#include <cmath>

namespace lidar_sim {

namespace {

// Proportions of a 1.75 m person; everything scales with height / 1.75.
constexpr double kReferenceHeight = 1.75;
constexpr double kStrideLength = 1.4;  // metres walked per full gait cycle
constexpr double kLegSwing = 0.16;     // fore-aft excursion of each foot at full stride
constexpr double kCartLength = 0.9;
constexpr double kCartWidth = 0.55;
constexpr double kCyclistLength = 1.75;
constexpr double kCyclistWidth = 0.6;

}  // namespace

Eigen::Vector2d agentFootprint(const AgentSpec& spec) {
  if (spec.object_class == ObjectClass::kPerson) {
    const double scale = spec.height / kReferenceHeight;
    return {0.4 * scale, 0.52 * scale};
  }
  if (spec.object_class == ObjectClass::kCart) {
    return {kCartLength, kCartWidth};
  }
  return {kCyclistLength, kCyclistWidth};
}

AgentModel::AgentModel(const AgentSpec& spec, std::uint16_t id, double gait_phase)
    : spec_(spec), path_(spec.path), id_(id), gait_phase_(gait_phase) {}

ObjectBox AgentModel::boxFor(const PathState& state) const {
  ObjectBox box;
  box.id = id_;
  box.object_class = spec_.object_class;
  box.x = state.position.x();
  box.y = state.position.y();
  box.z = 0.0;
  box.yaw = state.yaw;
  box.speed = state.speed;
  box.height = spec_.height;
  const Eigen::Vector2d footprint = agentFootprint(spec_);
  box.length = footprint.x();
  box.width = footprint.y();
  return box;
}

ObjectBox AgentModel::boxAt(double time) const {
  return boxFor(path_.at(time));
}

void AgentModel::placeAt(double time, SceneBody& body) const {
  const PathState state = path_.at(time);
  body.id = id_;
  body.object_class = spec_.object_class;
  body.label = PointLabel::kDynamic;
  body.reflectivity = static_cast<float>(spec_.reflectivity);
  body.box = boxFor(state);
  body.shapes.clear();
  switch (spec_.object_class) {
    case ObjectClass::kCart:
      buildCart(state, body.shapes);
      break;
    case ObjectClass::kCyclist:
      buildCyclist(state, body.shapes);
      break;
    default:
      buildPerson(state, body.shapes);
      break;
  }
  body.updateBounds();
}

void AgentModel::buildPerson(const PathState& state, std::vector<RayShape>& shapes) const {
  const double s = spec_.height / kReferenceHeight;
  const Eigen::Vector2d forward(std::cos(state.yaw), std::sin(state.yaw));
  const Eigen::Vector2d left(-forward.y(), forward.x());
  const Eigen::Vector2d& at = state.position;
  const double phase = 2.0 * M_PI * state.distance / (kStrideLength * s) + gait_phase_;
  const double swing = state.speed > 0.0 ? kLegSwing * s * std::sin(phase) : 0.0;

  const double hip = 0.84 * s;
  const double shoulder = 1.42 * s;
  for (double side : {1.0, -1.0}) {
    shapes.push_back(
        RayShape::ellipticCylinder(at + side * 0.09 * s * left + side * swing * forward, 0.0, hip,
                                   0.07 * s, 0.065 * s, state.yaw));
    shapes.push_back(
        RayShape::ellipticCylinder(at + side * 0.22 * s * left - side * 0.6 * swing * forward,
                                   0.78 * s, 1.40 * s, 0.04 * s, 0.04 * s, state.yaw));
  }
  shapes.push_back(RayShape::ellipticCylinder(at, hip, shoulder, 0.12 * s, 0.18 * s, state.yaw));
  shapes.push_back(RayShape::ellipticCylinder(at, shoulder, 1.56 * s, 0.05 * s, 0.05 * s, 0.0));
  const double head_radius = 0.105 * s;
  shapes.push_back(
      RayShape::sphere(Eigen::Vector3d(at.x(), at.y(), spec_.height - head_radius), head_radius));
}

void AgentModel::buildCart(const PathState& state, std::vector<RayShape>& shapes) const {
  const Eigen::Vector2d forward(std::cos(state.yaw), std::sin(state.yaw));
  const Eigen::Vector2d left(-forward.y(), forward.x());
  const Eigen::Vector2d& at = state.position;
  const double top = spec_.height;
  // Basket on castors, open underneath between the wheels.
  shapes.push_back(RayShape::box(Eigen::Vector3d(at.x(), at.y(), (0.2 + top) / 2.0),
                                 Eigen::Vector3d(kCartLength, kCartWidth, top - 0.2), state.yaw));
  for (double along : {-0.38, 0.38}) {
    for (double across : {-0.22, 0.22}) {
      shapes.push_back(RayShape::ellipticCylinder(at + along * forward + across * left, 0.0, 0.2,
                                                  0.05, 0.03, state.yaw));
    }
  }
}

void AgentModel::buildCyclist(const PathState& state, std::vector<RayShape>& shapes) const {
  const Eigen::Vector2d forward(std::cos(state.yaw), std::sin(state.yaw));
  const Eigen::Vector2d left(-forward.y(), forward.x());
  const Eigen::Vector2d& at = state.position;
  const double wheel = 0.66;
  for (double along : {-0.52, 0.52}) {
    const Eigen::Vector2d c = at + along * forward;
    shapes.push_back(RayShape::box(Eigen::Vector3d(c.x(), c.y(), wheel / 2.0),
                                   Eigen::Vector3d(wheel, 0.04, wheel), state.yaw));
  }
  shapes.push_back(RayShape::box(Eigen::Vector3d(at.x(), at.y(), 0.68),
                                 Eigen::Vector3d(0.9, 0.06, 0.45), state.yaw));
  const Eigen::Vector2d seat = at - 0.1 * forward;
  for (double side : {1.0, -1.0}) {
    shapes.push_back(
        RayShape::ellipticCylinder(seat + side * 0.12 * left, 0.35, 0.95, 0.06, 0.06, state.yaw));
  }
  shapes.push_back(RayShape::ellipticCylinder(seat, 0.95, 1.5, 0.14, 0.18, state.yaw));
  shapes.push_back(RayShape::sphere(Eigen::Vector3d(seat.x(), seat.y(), spec_.height - 0.1), 0.1));
}

}  // namespace lidar_sim
