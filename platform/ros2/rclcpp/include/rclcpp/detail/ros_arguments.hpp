// The ROS part of a command line: parameter overrides, parameter files, remappings and the
// log level, parsed the way rcl parses them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "rclcpp/logger.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"

namespace rclcpp {
namespace detail {

// One `-p [node:]name:=value` or one entry of a parameter file. `node_pattern` is a fully
// qualified node name, possibly with "*" / "**" wildcards ("/**" matches every node).
struct ParameterOverrideRule {
  std::string node_pattern;
  std::string name;
  ParameterValue value;
};

// One `-r [node:]from:=to`. `node_name` is empty when the rule applies to every node;
// `from` is "__node" / "__ns" for the node name and namespace.
struct RemapRule {
  std::string node_name;
  std::string from;
  std::string to;
};

struct RosArguments {
  std::vector<ParameterOverrideRule> parameters;  // command-line order; later rules win
  std::vector<RemapRule> remaps;
  std::optional<Logger::Level> log_level;
  std::vector<std::string> unparsed;  // everything outside --ros-args ... --
};

// Parses `arguments` (without the program name). Throws
// exceptions::RCLInvalidROSArgsError naming the bad argument or file, and
// exceptions::UnknownROSArgsError for flags it does not know.
RosArguments parse_ros_arguments(const std::vector<std::string>& arguments);

// Types a textual value the way a ROS 2 parameter value is typed: "5" integer, "5.0"
// double, "true" bool, "[1, 2]" integer array, quoted or anything else string. Throws
// std::invalid_argument when the text is not valid YAML or an array mixes types.
ParameterValue parse_parameter_value(const std::string& text);

// Reads a ROS 2 parameter file (node name or pattern, then "ros__parameters", nested maps
// joined with "."). Throws exceptions::RCLInvalidROSArgsError naming the file and the fault.
std::vector<ParameterOverrideRule> load_parameter_file(const std::string& path);

// Whether `pattern` (e.g. "/**", "/ns/*", "node", "/node") selects the node `fqn`.
bool node_pattern_matches(const std::string& pattern, const std::string& fqn);

// The overrides one node sees: global arguments, then the node's own arguments, then the
// explicit overrides of its options, later sources winning.
std::map<std::string, ParameterValue> resolve_parameter_overrides(
    const std::string& node_fqn, const std::vector<Parameter>& explicit_overrides,
    const RosArguments* local_arguments, const RosArguments* global_arguments);

}  // namespace detail
}  // namespace rclcpp
