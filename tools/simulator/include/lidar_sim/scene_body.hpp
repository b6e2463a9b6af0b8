// One object of a scene as the ray caster sees it: its solids, its bounds and its truth.
#pragma once

#include <cstdint>
#include <vector>

#include "lidar_sim/ground_truth.hpp"
#include "lidar_sim/ray_shape.hpp"

namespace lidar_sim {

// Plain aggregate; `bounds` must cover every shape (call updateBounds after changing them).
struct SceneBody {
  std::uint16_t id{0};
  ObjectClass object_class{ObjectClass::kFurniture};
  PointLabel label{PointLabel::kStatic};
  float reflectivity{0.5F};
  std::vector<RayShape> shapes;
  Bounds bounds;
  ObjectBox box;  // map frame

  void updateBounds() {
    bounds = Bounds{};
    for (const RayShape& shape : shapes) {
      bounds.extend(shape.bounds());
    }
  }
};

}  // namespace lidar_sim
