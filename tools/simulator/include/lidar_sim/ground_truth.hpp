// Ground-truth vocabulary shared by the simulator, its data set files and their readers.
#pragma once

#include <cstdint>
#include <string>

namespace lidar_sim {

// What a simulated return hit. Agents (people, carts, cyclists) are dynamic whether or not they
// move at this instant: a person standing still is still an obstacle that may walk off.
enum class PointLabel : std::uint8_t { kGround = 0, kStatic = 1, kDynamic = 2 };

// Kind of scene object; written to data set files by name (see toString).
enum class ObjectClass : std::uint8_t {
  kFloor = 0,  // the floor and the bumps and steps on it
  kCeiling,
  kWall,
  kFurniture,  // boxes, cabinets, tables, chairs
  kPillar,
  kPerson,
  kCart,
  kCyclist,
};

// Object id of the floor and of everything else labelled ground; scene objects count from 1.
constexpr std::uint16_t kGroundObjectId = 0;

std::string toString(PointLabel label);
std::string toString(ObjectClass object_class);
// Throws std::invalid_argument naming the unknown text.
ObjectClass objectClassFromString(const std::string& name);

// Ground-truth box of one object. The frame is stated wherever boxes are handed out.
struct ObjectBox {
  std::uint16_t id{0};
  ObjectClass object_class{ObjectClass::kFurniture};
  double x{0.0};       // centre, metres
  double y{0.0};       // centre, metres
  double z{0.0};       // bottom face, metres
  double length{0.0};  // along the heading
  double width{0.0};   // across the heading
  double height{0.0};
  double yaw{0.0};    // heading of the length axis from +x, counter-clockwise, radians
  double speed{0.0};  // ground speed in the map frame, m/s; 0 for anything standing still
};

}  // namespace lidar_sim
