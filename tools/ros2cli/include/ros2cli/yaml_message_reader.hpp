// Message values from YAML text, as `ros2 topic pub` takes them.
#pragma once

#include <string>

#include "ros2cli/type_support_registry.hpp"

namespace ros2cli {

// Sets the fields that `yaml` names in `message` (an initialised object of the type `members`
// describes); every other field keeps its value. `yaml` is a mapping in flow or block style
// ("{header: {frame_id: map}}", "data: 3"); empty text or null sets nothing. Scalars are read
// as YAML 1.1 writes them: integers in decimal, 0x, 0o, 0b or leading-zero octal with optional
// underscores, floats also as .inf/-.inf/.nan, bools as true/false/yes/no/on/off. A string field
// takes the scalar's text as written. Sequences replace the whole sequence; fixed arrays need
// exactly their size.
// Throws std::invalid_argument naming the field's path (e.g. "transforms[0].header.stamp.sec")
// for an unknown field, a value of the wrong kind, an integer out of its type's range, a float32
// beyond its range, a string or sequence over its bound, and for text that is not YAML. On error
// `message` is left valid but partly set.
void fillMessageFromYaml(const std::string& yaml, void* message, const MessageMembers& members);

}  // namespace ros2cli
