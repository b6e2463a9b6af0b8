// The simulated world: floor, optional ceiling, walls, furniture and moving agents, ray-castable
// at any instant.
//
// Built once from a scenario (random scatter placement is drawn from the scenario seed, so two
// scenes from one scenario are identical). Static bodies never change; `moveTo` re-places the
// agents in preallocated storage. Not thread-safe: one scene per simulating thread.
#pragma once

#include <Eigen/Core>

#include <cstdint>
#include <vector>

#include "lidar_sim/agent_model.hpp"
#include "lidar_sim/scenario.hpp"
#include "lidar_sim/scene_body.hpp"

namespace lidar_sim {

struct RayHit {
  double distance{0.0};
  Eigen::Vector3d normal{Eigen::Vector3d::UnitZ()};
  std::uint16_t object_id{kGroundObjectId};
  PointLabel label{PointLabel::kGround};
  ObjectClass object_class{ObjectClass::kFloor};
  float reflectivity{0.0F};
};

class Scene {
 public:
  explicit Scene(const Scenario& scenario);

  // Places every agent where it is at `time` seconds after the scenario start, and makes every
  // body a candidate for castRay again.
  void moveTo(double time);
  // Restricts castRay to bodies that may lie within `half_angle` of the unit `axis` seen from
  // `origin`, for a batch of rays known to stay inside that cone. Valid until the next moveTo.
  void restrictToCone(const Eigen::Vector3d& origin, const Eigen::Vector3d& axis,
                      double half_angle);
  // Nearest surface along the ray within `max_distance`, with what it belongs to.
  bool castRay(const Ray& ray, double max_distance, RayHit& hit) const;

  double floorHeight(double x, double y) const;
  // Unit normal of the floor plane, pointing up.
  Eigen::Vector3d floorNormal() const;
  // Truth boxes of every wall, piece of furniture and agent at `time`, map frame; appended.
  void boxesAt(double time, std::vector<ObjectBox>& boxes) const;

  const std::vector<SceneBody>& staticBodies() const { return static_bodies_; }
  const std::vector<SceneBody>& agentBodies() const { return agent_bodies_; }

 private:
  void addWall(const WallSpec& wall);
  void addObject(const StaticObjectSpec& object);
  void scatterBoxes(const Scenario& scenario);
  std::uint16_t nextId() { return next_id_++; }

  FloorSpec floor_;
  bool has_ceiling_{false};
  double ceiling_height_{0.0};
  float ceiling_reflectivity_{0.0F};
  std::uint16_t ceiling_id_{0};
  std::vector<SceneBody> static_bodies_;
  std::vector<AgentModel> agents_;
  std::vector<SceneBody> agent_bodies_;  // entry i is agent i at the last moveTo
  // Bodies castRay tests; point into the two vectors above, which never grow after construction.
  std::vector<const SceneBody*> candidates_;
  std::uint16_t next_id_{1};
};

}  // namespace lidar_sim
