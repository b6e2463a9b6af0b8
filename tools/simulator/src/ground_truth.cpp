#include "lidar_sim/ground_truth.hpp"

#include <array>
#include <stdexcept>
#include <utility>

namespace lidar_sim {

namespace {

constexpr std::array<std::pair<ObjectClass, const char*>, 8> kClassNames{{
    {ObjectClass::kFloor, "floor"},
    {ObjectClass::kCeiling, "ceiling"},
    {ObjectClass::kWall, "wall"},
    {ObjectClass::kFurniture, "furniture"},
    {ObjectClass::kPillar, "pillar"},
    {ObjectClass::kPerson, "person"},
    {ObjectClass::kCart, "cart"},
    {ObjectClass::kCyclist, "cyclist"},
}};

}  // namespace

std::string toString(PointLabel label) {
  switch (label) {
    case PointLabel::kGround:
      return "ground";
    case PointLabel::kStatic:
      return "static";
    case PointLabel::kDynamic:
      return "dynamic";
  }
  return "unknown";
}

std::string toString(ObjectClass object_class) {
  for (const auto& [value, name] : kClassNames) {
    if (value == object_class) {
      return name;
    }
  }
  return "unknown";
}

ObjectClass objectClassFromString(const std::string& name) {
  for (const auto& [value, text] : kClassNames) {
    if (name == text) {
      return value;
    }
  }
  throw std::invalid_argument("unknown object class '" + name +
                              "' (known: floor, ceiling, wall, furniture, pillar, person, cart, "
                              "cyclist)");
}

}  // namespace lidar_sim
