// Parameter values as `ros2 param` reads them from the command line and prints them.
#pragma once

#include <string>

#include <rcl_interfaces/msg/parameter_value.hpp>

namespace ros2cli {

// `text` read as YAML, as ros2 param set does: a bool, integer or float scalar gives that type, a
// list of all bools, all integers, all floats or all strings gives that array type; anything else
// (quoted scalars, mixed lists, text that is not YAML) is a string holding `text` itself.
rcl_interfaces::msg::ParameterValue parameterValueFromText(const std::string& text);

// The line ros2 param get prints: "Integer value is: 3", "Double value is: 0.2",
// "String values are: ['a', 'b']", "Parameter not set.".
std::string describeParameterValue(const rcl_interfaces::msg::ParameterValue& value);

}  // namespace ros2cli
