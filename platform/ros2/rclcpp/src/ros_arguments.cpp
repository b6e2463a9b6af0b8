#include "rclcpp/detail/ros_arguments.hpp"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <set>
#include <stdexcept>

#include "rclcpp/exceptions.hpp"

namespace rclcpp {
namespace detail {
namespace {

const char* const kParseError = "failed to parse ROS arguments";

bool is_true_word(const std::string& s) {
  static const std::set<std::string> words{"y",    "Y",    "yes", "Yes", "YES", "true",
                                           "True", "TRUE", "on",  "On",  "ON"};
  return words.count(s) != 0;
}

bool is_false_word(const std::string& s) {
  static const std::set<std::string> words{"n",     "N",     "no",  "No",  "NO", "false",
                                           "False", "FALSE", "off", "Off", "OFF"};
  return words.count(s) != 0;
}

bool parse_integer(const std::string& s, int64_t& out) {
  if (s.empty()) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0') {
    return false;
  }
  out = static_cast<int64_t>(value);
  return true;
}

bool parse_double(const std::string& s, double& out) {
  if (s.empty()) {
    return false;
  }
  if (s == ".nan" || s == ".NaN" || s == ".NAN") {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (s == ".inf" || s == ".Inf" || s == ".INF" || s == "+.inf") {
    out = std::numeric_limits<double>::infinity();
    return true;
  }
  if (s == "-.inf" || s == "-.Inf" || s == "-.INF") {
    out = -std::numeric_limits<double>::infinity();
    return true;
  }
  // strtod would also take "nan", "inf" and hexadecimal floats, which ROS treats as strings.
  if (s.find_first_not_of("0123456789+-.eE") != std::string::npos) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(s.c_str(), &end);
  if (errno != 0 || end == s.c_str() || *end != '\0') {
    return false;
  }
  out = value;
  return true;
}

enum class ScalarKind { Bool, Integer, Double, String };

ScalarKind classify(const YAML::Node& node, bool& b, int64_t& i, double& d) {
  const std::string& text = node.Scalar();
  // A quoted scalar is always a string.
  if (node.Tag() == "!") {
    return ScalarKind::String;
  }
  if (is_true_word(text) || is_false_word(text)) {
    b = is_true_word(text);
    return ScalarKind::Bool;
  }
  if (parse_integer(text, i)) {
    return ScalarKind::Integer;
  }
  if (parse_double(text, d)) {
    return ScalarKind::Double;
  }
  return ScalarKind::String;
}

ParameterValue value_from_yaml(const YAML::Node& node) {
  if (node.IsScalar()) {
    bool b = false;
    int64_t i = 0;
    double d = 0.0;
    switch (classify(node, b, i, d)) {
      case ScalarKind::Bool:
        return ParameterValue(b);
      case ScalarKind::Integer:
        return ParameterValue(i);
      case ScalarKind::Double:
        return ParameterValue(d);
      case ScalarKind::String:
        return ParameterValue(node.Scalar());
    }
  }
  if (node.IsSequence()) {
    if (node.size() == 0) {
      throw std::invalid_argument("the type of an empty sequence cannot be determined");
    }
    std::vector<bool> bools;
    std::vector<int64_t> ints;
    std::vector<double> doubles;
    std::vector<std::string> strings;
    ScalarKind first = ScalarKind::String;
    for (std::size_t k = 0; k < node.size(); ++k) {
      const YAML::Node element = node[k];
      if (!element.IsScalar()) {
        throw std::invalid_argument("sequence elements must be scalars");
      }
      bool b = false;
      int64_t i = 0;
      double d = 0.0;
      const ScalarKind kind = classify(element, b, i, d);
      if (k == 0) {
        first = kind;
      } else if (kind != first) {
        throw std::invalid_argument("Sequence should be of same type. Value type '" +
                                    element.Scalar() + "' do not belong");
      }
      bools.push_back(b);
      ints.push_back(i);
      doubles.push_back(d);
      strings.push_back(element.Scalar());
    }
    switch (first) {
      case ScalarKind::Bool:
        return ParameterValue(bools);
      case ScalarKind::Integer:
        return ParameterValue(ints);
      case ScalarKind::Double:
        return ParameterValue(doubles);
      case ScalarKind::String:
        return ParameterValue(strings);
    }
  }
  throw std::invalid_argument("a parameter value must be a scalar or a sequence of scalars");
}

void flatten(const YAML::Node& map, const std::string& prefix, const std::string& node_pattern,
             std::vector<ParameterOverrideRule>& out) {
  for (const auto& entry : map) {
    const std::string key = entry.first.as<std::string>();
    const std::string name = prefix.empty() ? key : prefix + "." + key;
    if (entry.second.IsMap()) {
      flatten(entry.second, name, node_pattern, out);
    } else {
      try {
        out.push_back({node_pattern, name, value_from_yaml(entry.second)});
      } catch (const std::invalid_argument& e) {
        throw std::invalid_argument("parameter '" + name + "': " + e.what());
      }
    }
  }
}

std::string absolute_pattern(const std::string& pattern) {
  return (!pattern.empty() && pattern[0] == '/') ? pattern : "/" + pattern;
}

// A node's name may be split over nested keys ("robot:" holding "talker:"), as rcl reads it;
// the keys down to "ros__parameters" join into the node pattern.
void collect_node_parameters(const YAML::Node& map, const std::string& node_pattern,
                             std::vector<ParameterOverrideRule>& rules) {
  for (const auto& entry : map) {
    const std::string key = entry.first.as<std::string>();
    const YAML::Node body = entry.second;
    if (key == "ros__parameters" && !node_pattern.empty()) {
      if (body.IsNull()) {
        continue;
      }
      if (!body.IsMap()) {
        throw std::invalid_argument("'ros__parameters' of node '" + node_pattern +
                                    "' is not a map");
      }
      flatten(body, "", node_pattern, rules);
      continue;
    }
    const std::string pattern = node_pattern + absolute_pattern(key);
    if (!body.IsMap()) {
      throw std::invalid_argument("node '" + pattern + "' has no 'ros__parameters' map");
    }
    collect_node_parameters(body, pattern, rules);
  }
}

std::vector<std::string> split_path(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '/') {
      if (!current.empty()) {
        parts.push_back(current);
      }
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) {
    parts.push_back(current);
  }
  return parts;
}

bool segment_matches(const std::string& pattern, const std::string& text) {
  // "*" inside a segment matches any run of characters.
  std::size_t p = 0, t = 0, star = std::string::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

bool parts_match(const std::vector<std::string>& pattern, std::size_t pi,
                 const std::vector<std::string>& name, std::size_t ni) {
  if (pi == pattern.size()) {
    return ni == name.size();
  }
  if (pattern[pi] == "**") {
    for (std::size_t k = ni; k <= name.size(); ++k) {
      if (parts_match(pattern, pi + 1, name, k)) {
        return true;
      }
    }
    return false;
  }
  return ni < name.size() && segment_matches(pattern[pi], name[ni]) &&
         parts_match(pattern, pi + 1, name, ni + 1);
}

// Splits "a:b:=c" into the optional node prefix, the left side and the right side.
bool split_rule(const std::string& rule, std::string& node, std::string& from, std::string& to) {
  const std::size_t assign = rule.find(":=");
  if (assign == std::string::npos || assign == 0) {
    return false;
  }
  std::string left = rule.substr(0, assign);
  to = rule.substr(assign + 2);
  const std::size_t colon = left.find(':');
  if (colon != std::string::npos) {
    node = left.substr(0, colon);
    from = left.substr(colon + 1);
    if (node.empty()) {
      return false;
    }
  } else {
    node.clear();
    from = left;
  }
  return !from.empty();
}

std::optional<Logger::Level> parse_log_level(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  if (text == "debug")
    return Logger::Level::Debug;
  if (text == "info")
    return Logger::Level::Info;
  if (text == "warn" || text == "warning")
    return Logger::Level::Warn;
  if (text == "error")
    return Logger::Level::Error;
  if (text == "fatal")
    return Logger::Level::Fatal;
  if (text == "unset")
    return Logger::Level::Unset;
  return std::nullopt;
}

}  // namespace

ParameterValue parse_parameter_value(const std::string& text) {
  YAML::Node node;
  try {
    node = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    throw std::invalid_argument("'" + text + "' is not a valid parameter value: " + e.what());
  }
  if (node.IsNull()) {
    // An empty value, or a word YAML reads as null ("null", "~"), is taken as text.
    return ParameterValue(text);
  }
  return value_from_yaml(node);
}

std::vector<ParameterOverrideRule> load_parameter_file(const std::string& path) {
  YAML::Node root;
  try {
    root = YAML::LoadFile(path);
  } catch (const YAML::BadFile&) {
    throw exceptions::RCLInvalidROSArgsError(
        kParseError, "Couldn't parse params file: '" + path + "'. Error: cannot open file");
  } catch (const YAML::Exception& e) {
    throw exceptions::RCLInvalidROSArgsError(
        kParseError, "Couldn't parse params file: '" + path + "'. Error: " + e.what());
  }
  std::vector<ParameterOverrideRule> rules;
  if (root.IsNull()) {
    return rules;
  }
  if (!root.IsMap()) {
    throw exceptions::RCLInvalidROSArgsError(
        kParseError, "Couldn't parse params file: '" + path +
                         "'. Error: the top level must map node names to their parameters");
  }
  try {
    collect_node_parameters(root, "", rules);
  } catch (const std::exception& e) {
    throw exceptions::RCLInvalidROSArgsError(
        kParseError, "Couldn't parse params file: '" + path + "'. Error: " + e.what());
  }
  return rules;
}

RosArguments parse_ros_arguments(const std::vector<std::string>& arguments) {
  RosArguments result;
  std::vector<std::string> unknown;
  bool in_ros_args = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--ros-args") {
      in_ros_args = true;
      continue;
    }
    if (!in_ros_args) {
      result.unparsed.push_back(arg);
      continue;
    }
    if (arg == "--") {
      in_ros_args = false;
      continue;
    }
    auto next = [&](const char* flag) -> const std::string& {
      if (i + 1 >= arguments.size()) {
        throw exceptions::RCLInvalidROSArgsError(
            kParseError, std::string("argument ") + flag + " must be followed by a value");
      }
      return arguments[++i];
    };
    if (arg == "-p" || arg == "--param") {
      const std::string& rule = next(arg.c_str());
      std::string node, name, value;
      if (!split_rule(rule, node, name, value)) {
        throw exceptions::RCLInvalidROSArgsError(
            kParseError, "Couldn't parse parameter override rule: '" + arg + " " + rule +
                             "'. Error: expected [node:]name:=value");
      }
      try {
        result.parameters.push_back(
            {node.empty() ? "/**" : absolute_pattern(node), name, parse_parameter_value(value)});
      } catch (const std::invalid_argument& e) {
        throw exceptions::RCLInvalidROSArgsError(
            kParseError, "Couldn't parse parameter override rule: '" + arg + " " + rule +
                             "'. Error: " + e.what());
      }
    } else if (arg == "-r" || arg == "--remap") {
      const std::string& rule = next(arg.c_str());
      RemapRule remap;
      if (!split_rule(rule, remap.node_name, remap.from, remap.to) || remap.to.empty()) {
        throw exceptions::RCLInvalidROSArgsError(
            kParseError, "Couldn't parse remap rule: '" + arg + " " + rule + "'");
      }
      if (remap.from == "__name") {
        remap.from = "__node";
      }
      result.remaps.push_back(remap);
    } else if (arg == "--params-file") {
      const std::string& path = next("--params-file");
      auto rules = load_parameter_file(path);
      result.parameters.insert(result.parameters.end(), rules.begin(), rules.end());
    } else if (arg == "--log-level") {
      std::string level = next("--log-level");
      const std::size_t assign = level.find(":=");
      if (assign != std::string::npos) {
        level = level.substr(assign + 2);
      }
      auto parsed = parse_log_level(level);
      if (!parsed) {
        throw exceptions::RCLInvalidROSArgsError(kParseError,
                                                 "Couldn't parse log level: '" + level + "'");
      }
      result.log_level = parsed;
    } else if (arg == "-e" || arg == "--enclave" || arg == "--log-config-file" ||
               arg == "--external-log-config-file") {
      next(arg.c_str());
    } else if (arg == "--enable-rosout-logs" || arg == "--disable-rosout-logs" ||
               arg == "--enable-stdout-logs" || arg == "--disable-stdout-logs" ||
               arg == "--enable-external-lib-logs" || arg == "--disable-external-lib-logs") {
      continue;
    } else {
      unknown.push_back(arg);
    }
  }
  if (!unknown.empty()) {
    throw exceptions::UnknownROSArgsError(std::move(unknown));
  }
  return result;
}

bool node_pattern_matches(const std::string& pattern, const std::string& fqn) {
  return parts_match(split_path(absolute_pattern(pattern)), 0, split_path(fqn), 0);
}

std::map<std::string, ParameterValue> resolve_parameter_overrides(
    const std::string& node_fqn, const std::vector<Parameter>& explicit_overrides,
    const RosArguments* local_arguments, const RosArguments* global_arguments) {
  std::map<std::string, ParameterValue> result;
  for (const RosArguments* source : {global_arguments, local_arguments}) {
    if (source == nullptr) {
      continue;
    }
    for (const auto& rule : source->parameters) {
      if (node_pattern_matches(rule.node_pattern, node_fqn)) {
        result[rule.name] = rule.value;
      }
    }
  }
  for (const auto& parameter : explicit_overrides) {
    result[parameter.get_name()] = parameter.get_parameter_value();
  }
  return result;
}

}  // namespace detail

namespace exceptions {

namespace {
std::string join_arguments(const std::vector<std::string>& arguments) {
  std::string text;
  for (const auto& a : arguments) {
    text += (text.empty() ? "'" : ", '") + a + "'";
  }
  return text;
}
}  // namespace

UnknownROSArgsError::UnknownROSArgsError(std::vector<std::string>&& unknown_ros_args_in)
    : std::runtime_error("found unknown ROS arguments: " + join_arguments(unknown_ros_args_in)),
      unknown_ros_args(std::move(unknown_ros_args_in)) {}

}  // namespace exceptions
}  // namespace rclcpp
