// Articulated shape of a moving agent (person, cart, cyclist) at any time along its route.
//
// A person is built from legs that swing with the distance walked, a torso of elliptic section,
// arms swinging against the legs, a neck and a head, all scaled with the body height, so that a
// lidar sees the narrow legs, wider shoulders and round head of a person rather than a block.
// Standing still, the legs close and the arms hang. The model owns its route.
#pragma once

#include <Eigen/Core>

#include <cstdint>

#include "lidar_sim/path_timeline.hpp"
#include "lidar_sim/scenario.hpp"
#include "lidar_sim/scene_body.hpp"

namespace lidar_sim {

// Length (along the heading) and width of the agent's footprint on the floor, the size of its
// truth box: a person's scales with the body height and covers swinging legs and arms.
Eigen::Vector2d agentFootprint(const AgentSpec& spec);

class AgentModel {
 public:
  // `gait_phase` (radians) desynchronises agents that start together.
  AgentModel(const AgentSpec& spec, std::uint16_t id, double gait_phase);

  // Replaces the shapes of `body` with the agent's at `time` (seconds since the scenario start)
  // and sets its id, class, label, truth box and bounds. Reuses the body's shape storage.
  void placeAt(double time, SceneBody& body) const;
  ObjectBox boxAt(double time) const;

 private:
  ObjectBox boxFor(const PathState& state) const;
  void buildPerson(const PathState& state, std::vector<RayShape>& shapes) const;
  void buildCart(const PathState& state, std::vector<RayShape>& shapes) const;
  void buildCyclist(const PathState& state, std::vector<RayShape>& shapes) const;

  AgentSpec spec_;
  PathTimeline path_;
  std::uint16_t id_;
  double gait_phase_;
};

}  // namespace lidar_sim
