// A named parameter value.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <rcl_interfaces/msg/parameter.hpp>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/parameter_value.hpp"

namespace rclcpp {

// Value type: a name and a ParameterValue. Typed reads throw
// exceptions::InvalidParameterTypeException ("parameter '<name>' has invalid type: expected
// [double] got [integer]") when the stored type differs; nothing converts.
class Parameter {
 public:
  Parameter() = default;
  explicit Parameter(const std::string& name) : name_(name) {}
  Parameter(const std::string& name, const ParameterValue& value) : name_(name), value_(value) {}
  template <typename ValueTypeT>
  Parameter(const std::string& name, ValueTypeT value) : Parameter(name, ParameterValue(value)) {}

  static Parameter from_parameter_msg(const rcl_interfaces::msg::Parameter& parameter) {
    return Parameter(parameter.name, ParameterValue(parameter.value));
  }
  rcl_interfaces::msg::Parameter to_parameter_msg() const {
    rcl_interfaces::msg::Parameter parameter;
    parameter.name = name_;
    parameter.value = value_.to_value_msg();
    return parameter;
  }

  bool operator==(const Parameter& rhs) const { return name_ == rhs.name_ && value_ == rhs.value_; }
  bool operator!=(const Parameter& rhs) const { return !(*this == rhs); }

  ParameterType get_type() const { return value_.get_type(); }
  std::string get_type_name() const { return rclcpp::to_string(get_type()); }
  const std::string& get_name() const { return name_; }
  const ParameterValue& get_parameter_value() const { return value_; }
  rcl_interfaces::msg::ParameterValue get_value_message() const { return value_.to_value_msg(); }

  template <ParameterType ParamT>
  decltype(auto) get_value() const {
    try {
      return value_.get<ParamT>();
    } catch (const ParameterTypeException& ex) {
      throw exceptions::InvalidParameterTypeException(name_, ex.what());
    }
  }

  template <typename T>
  decltype(auto) get_value() const {
    try {
      return value_.get<T>();
    } catch (const ParameterTypeException& ex) {
      throw exceptions::InvalidParameterTypeException(name_, ex.what());
    }
  }

  bool as_bool() const { return get_value<PARAMETER_BOOL>(); }
  int64_t as_int() const { return get_value<PARAMETER_INTEGER>(); }
  double as_double() const { return get_value<PARAMETER_DOUBLE>(); }
  const std::string& as_string() const { return get_value<PARAMETER_STRING>(); }
  const std::vector<uint8_t>& as_byte_array() const { return get_value<PARAMETER_BYTE_ARRAY>(); }
  const std::vector<bool>& as_bool_array() const { return get_value<PARAMETER_BOOL_ARRAY>(); }
  const std::vector<int64_t>& as_integer_array() const {
    return get_value<PARAMETER_INTEGER_ARRAY>();
  }
  const std::vector<double>& as_double_array() const { return get_value<PARAMETER_DOUBLE_ARRAY>(); }
  const std::vector<std::string>& as_string_array() const {
    return get_value<PARAMETER_STRING_ARRAY>();
  }

  std::string value_to_string() const { return rclcpp::to_string(value_); }

 private:
  std::string name_;
  ParameterValue value_;
};

// "{"name": "x", "type": "double", "value": "1.5"}", as rclcpp prints a parameter.
std::string _to_json_dict_entry(const Parameter& param);
std::ostream& operator<<(std::ostream& os, const rclcpp::Parameter& pv);

}  // namespace rclcpp
