// Messages as Python's repr() shows them, which is what `ros2 topic pub` prints per publication.
#pragma once

#include <string>

#include "ros2cli/type_support_registry.hpp"

namespace ros2cli {

// "std_msgs.msg.String(data='hi')": the type's Python path and every field as keyword=value;
// bools True/False, floats as repr(), strings quoted as Python quotes them, numeric sequences as
// array('<typecode>', [...]), fixed numeric arrays as array([...]), others as lists.
std::string pythonRepr(const void* message, const MessageMembers& members);

// Python's repr() of a float: "0.2", "3.0", "1e-05", "inf", "nan".
std::string pythonFloat(double value);

// Python's repr() of a str given as UTF-8: single quotes unless the text holds ' and no ".
std::string pythonString(const std::string& text);

}  // namespace ros2cli
