#include "ros2cli/parameter_text.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <regex>
#include <stdexcept>

#include <yaml-cpp/yaml.h>
#include <rcl_interfaces/msg/parameter_type.hpp>

#include "ros2cli/python_repr.hpp"

namespace ros2cli {

namespace {

using rcl_interfaces::msg::ParameterType;
using rcl_interfaces::msg::ParameterValue;

std::string withoutUnderscores(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '_'), text.end());
  return text;
}

// Plain scalars resolved as YAML 1.1 (PyYAML's safe_load) resolves them.
std::optional<bool> yamlBool(const std::string& text) {
  static const std::regex yes("yes|Yes|YES|true|True|TRUE|on|On|ON");
  static const std::regex no("no|No|NO|false|False|FALSE|off|Off|OFF");
  if (std::regex_match(text, yes)) {
    return true;
  }
  if (std::regex_match(text, no)) {
    return false;
  }
  return std::nullopt;
}

std::optional<std::int64_t> yamlInt(const std::string& text) {
  static const std::regex decimal("[-+]?(0|[1-9][0-9_]*)");
  static const std::regex hex("[-+]?0x[0-9a-fA-F_]+");
  static const std::regex octal("[-+]?0[0-7_]+");
  static const std::regex binary("[-+]?0b[01_]+");
  int base = 0;
  if (std::regex_match(text, decimal)) {
    base = 10;
  } else if (std::regex_match(text, hex)) {
    base = 16;
  } else if (std::regex_match(text, octal)) {
    base = 8;
  } else if (std::regex_match(text, binary)) {
    base = 2;
  } else {
    return std::nullopt;
  }
  std::string digits = withoutUnderscores(text);
  bool negative = false;
  if (digits[0] == '-' || digits[0] == '+') {
    negative = digits[0] == '-';
    digits.erase(0, 1);
  }
  if (base == 16 || base == 2) {
    digits.erase(0, 2);
  }
  try {
    std::size_t used = 0;
    const long long magnitude = std::stoll(digits, &used, base);
    return negative ? -magnitude : magnitude;
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

std::optional<double> yamlDouble(const std::string& text) {
  static const std::regex number("[-+]?([0-9][0-9_]*)?\\.[0-9_]*([eE][-+][0-9]+)?");
  static const std::regex infinity("[-+]?\\.(inf|Inf|INF)");
  static const std::regex nan("\\.(nan|NaN|NAN)");
  if (std::regex_match(text, infinity)) {
    return text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
  }
  if (std::regex_match(text, nan)) {
    return std::nan("");
  }
  if (!std::regex_match(text, number) || text == "." || text == "-." || text == "+.") {
    return std::nullopt;
  }
  return std::stod(withoutUnderscores(text));
}

// The type a scalar node resolves to, as a ParameterValue; a string for quoted scalars.
ParameterValue scalarValue(const YAML::Node& node) {
  ParameterValue value;
  const std::string& text = node.Scalar();
  const bool plain = node.Tag() != "!";
  if (plain) {
    if (auto b = yamlBool(text)) {
      value.type = ParameterType::PARAMETER_BOOL;
      value.bool_value = *b;
      return value;
    }
    if (auto i = yamlInt(text)) {
      value.type = ParameterType::PARAMETER_INTEGER;
      value.integer_value = *i;
      return value;
    }
    if (auto d = yamlDouble(text)) {
      value.type = ParameterType::PARAMETER_DOUBLE;
      value.double_value = *d;
      return value;
    }
  }
  value.type = ParameterType::PARAMETER_STRING;
  value.string_value = text;
  return value;
}

ParameterValue stringValue(const std::string& text) {
  ParameterValue value;
  value.type = ParameterType::PARAMETER_STRING;
  value.string_value = text;
  return value;
}

template <typename T, typename Format>
std::string list(const std::vector<T>& values, Format format) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    text += (i == 0 ? "" : ", ") + format(values[i]);
  }
  return text;
}

}  // namespace

ParameterValue parameterValueFromText(const std::string& text) {
  YAML::Node node;
  try {
    node = YAML::Load(text);
  } catch (const YAML::Exception&) {
    return stringValue(text);
  }
  if (node.IsScalar()) {
    ParameterValue value = scalarValue(node);
    if (value.type == ParameterType::PARAMETER_STRING) {
      value.string_value = text;
    }
    return value;
  }
  if (!node.IsSequence() || node.size() == 0) {
    return stringValue(text);
  }
  std::vector<ParameterValue> items;
  for (const auto& item : node) {
    if (!item.IsScalar()) {
      return stringValue(text);
    }
    items.push_back(scalarValue(item));
  }
  ParameterValue value;
  for (const auto& item : items) {
    if (item.type != items.front().type) {
      return stringValue(text);
    }
    switch (item.type) {
      case ParameterType::PARAMETER_BOOL:
        value.bool_array_value.push_back(item.bool_value);
        break;
      case ParameterType::PARAMETER_INTEGER:
        value.integer_array_value.push_back(item.integer_value);
        break;
      case ParameterType::PARAMETER_DOUBLE:
        value.double_array_value.push_back(item.double_value);
        break;
      default:
        value.string_array_value.push_back(item.string_value);
    }
  }
  // Array types follow their scalar types at a fixed distance in rcl_interfaces.
  value.type = static_cast<std::uint8_t>(items.front().type + ParameterType::PARAMETER_BOOL_ARRAY -
                                         ParameterType::PARAMETER_BOOL);
  return value;
}

std::string describeParameterValue(const ParameterValue& value) {
  const auto boolean = [](bool b) { return std::string(b ? "True" : "False"); };
  const auto integer = [](std::int64_t i) { return std::to_string(i); };
  switch (value.type) {
    case ParameterType::PARAMETER_NOT_SET:
      return "Parameter not set.";
    case ParameterType::PARAMETER_BOOL:
      return "Boolean value is: " + boolean(value.bool_value);
    case ParameterType::PARAMETER_INTEGER:
      return "Integer value is: " + integer(value.integer_value);
    case ParameterType::PARAMETER_DOUBLE:
      return "Double value is: " + pythonFloat(value.double_value);
    case ParameterType::PARAMETER_STRING:
      return "String value is: " + value.string_value;
    case ParameterType::PARAMETER_BYTE_ARRAY:
      return "Byte values are: [" +
             list(value.byte_array_value,
                  [](std::uint8_t b) {
                    return "b'\\x" + std::string(1, "0123456789abcdef"[b >> 4]) +
                           std::string(1, "0123456789abcdef"[b & 15]) + "'";
                  }) +
             "]";
    case ParameterType::PARAMETER_BOOL_ARRAY:
      return "Boolean values are: [" + list(value.bool_array_value, boolean) + "]";
    case ParameterType::PARAMETER_INTEGER_ARRAY:
      return "Integer values are: array('q', [" + list(value.integer_array_value, integer) + "])";
    case ParameterType::PARAMETER_DOUBLE_ARRAY:
      return "Double values are: array('d', [" + list(value.double_array_value, pythonFloat) + "])";
    case ParameterType::PARAMETER_STRING_ARRAY:
      return "String values are: [" + list(value.string_array_value, pythonString) + "]";
    default:
      return "Unknown parameter type " + std::to_string(value.type);
  }
}

}  // namespace ros2cli
