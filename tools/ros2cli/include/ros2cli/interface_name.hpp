// The parts of a rosidl interface name such as "geometry_msgs/msg/TransformStamped".
#pragma once

#include <string>

namespace ros2cli {

// A checked interface name: package, kind and type are each a non-empty identifier, `type` starts
// with an upper-case letter (rosidl refuses anything else), `kind` is "msg" or "srv".
struct InterfaceName {
  std::string package;
  std::string kind;
  std::string type;

  // "package/kind/type".
  std::string full() const { return package + "/" + kind + "/" + type; }
};

// Splits "pkg/<kind>/Type" or the short "pkg/Type" that ros2 also accepts. Throws
// std::invalid_argument quoting `text` when it has another shape, another kind in the middle, or
// parts that are not identifiers.
InterfaceName parseInterfaceName(const std::string& text, const std::string& kind);

}  // namespace ros2cli
