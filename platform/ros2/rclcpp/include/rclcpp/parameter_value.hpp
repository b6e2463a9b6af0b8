// The typed value of a parameter, over rcl_interfaces' ParameterValue message.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>

namespace rclcpp {

enum ParameterType : uint8_t {
  PARAMETER_NOT_SET = rcl_interfaces::msg::ParameterType::PARAMETER_NOT_SET,
  PARAMETER_BOOL = rcl_interfaces::msg::ParameterType::PARAMETER_BOOL,
  PARAMETER_INTEGER = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER,
  PARAMETER_DOUBLE = rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE,
  PARAMETER_STRING = rcl_interfaces::msg::ParameterType::PARAMETER_STRING,
  PARAMETER_BYTE_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_BYTE_ARRAY,
  PARAMETER_BOOL_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_BOOL_ARRAY,
  PARAMETER_INTEGER_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER_ARRAY,
  PARAMETER_DOUBLE_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE_ARRAY,
  PARAMETER_STRING_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_STRING_ARRAY,
};

// "not set", "bool", "integer", "double", "string", "byte_array", ... as rclcpp names them.
std::string to_string(ParameterType type);
std::ostream& operator<<(std::ostream& os, ParameterType type);

// Thrown by ParameterValue::get when the stored type is not the requested one; the text is
// "expected [<requested>] got [<stored>]".
class ParameterTypeException : public std::runtime_error {
 public:
  ParameterTypeException(ParameterType expected, ParameterType actual)
      : std::runtime_error("expected [" + to_string(expected) + "] got [" + to_string(actual) +
                           "]") {}
};

// Value type. No conversion between types happens on reading: an integer is not a double.
class ParameterValue {
 public:
  ParameterValue();
  explicit ParameterValue(const rcl_interfaces::msg::ParameterValue& value);
  explicit ParameterValue(bool bool_value);
  explicit ParameterValue(int int_value);
  explicit ParameterValue(int64_t int_value);
  explicit ParameterValue(float double_value);
  explicit ParameterValue(double double_value);
  explicit ParameterValue(const std::string& string_value);
  explicit ParameterValue(const char* string_value);
  explicit ParameterValue(const std::vector<uint8_t>& byte_array_value);
  explicit ParameterValue(const std::vector<bool>& bool_array_value);
  explicit ParameterValue(const std::vector<int>& int_array_value);
  explicit ParameterValue(const std::vector<int64_t>& int_array_value);
  explicit ParameterValue(const std::vector<float>& double_array_value);
  explicit ParameterValue(const std::vector<double>& double_array_value);
  explicit ParameterValue(const std::vector<std::string>& string_array_value);

  ParameterType get_type() const { return static_cast<ParameterType>(value_.type); }
  rcl_interfaces::msg::ParameterValue to_value_msg() const { return value_; }

  bool operator==(const ParameterValue& rhs) const { return value_ == rhs.value_; }
  bool operator!=(const ParameterValue& rhs) const { return value_ != rhs.value_; }

  // By ParameterType; throws ParameterTypeException on a mismatch.
  template <ParameterType type>
  decltype(auto) get() const {
    check(type);
    if constexpr (type == PARAMETER_BOOL) {
      return static_cast<const bool&>(value_.bool_value);
    } else if constexpr (type == PARAMETER_INTEGER) {
      return static_cast<const int64_t&>(value_.integer_value);
    } else if constexpr (type == PARAMETER_DOUBLE) {
      return static_cast<const double&>(value_.double_value);
    } else if constexpr (type == PARAMETER_STRING) {
      return static_cast<const std::string&>(value_.string_value);
    } else if constexpr (type == PARAMETER_BYTE_ARRAY) {
      return static_cast<const std::vector<uint8_t>&>(value_.byte_array_value);
    } else if constexpr (type == PARAMETER_BOOL_ARRAY) {
      return static_cast<const std::vector<bool>&>(value_.bool_array_value);
    } else if constexpr (type == PARAMETER_INTEGER_ARRAY) {
      return static_cast<const std::vector<int64_t>&>(value_.integer_array_value);
    } else if constexpr (type == PARAMETER_DOUBLE_ARRAY) {
      return static_cast<const std::vector<double>&>(value_.double_array_value);
    } else {
      static_assert(type == PARAMETER_STRING_ARRAY, "unsupported parameter type");
      return static_cast<const std::vector<std::string>&>(value_.string_array_value);
    }
  }

  // By C++ type: bool reads PARAMETER_BOOL, integral types PARAMETER_INTEGER, floating
  // types PARAMETER_DOUBLE, strings PARAMETER_STRING, vectors the matching array type.
  template <typename T>
  decltype(auto) get() const {
    using U = std::decay_t<T>;
    if constexpr (std::is_same<U, ParameterValue>::value) {
      return static_cast<const ParameterValue&>(*this);
    } else if constexpr (std::is_same<U, bool>::value) {
      return get<PARAMETER_BOOL>();
    } else if constexpr (std::is_integral<U>::value) {
      return get<PARAMETER_INTEGER>();
    } else if constexpr (std::is_floating_point<U>::value) {
      return get<PARAMETER_DOUBLE>();
    } else if constexpr (std::is_convertible<U, std::string>::value) {
      return get<PARAMETER_STRING>();
    } else if constexpr (std::is_same<U, std::vector<uint8_t>>::value) {
      return get<PARAMETER_BYTE_ARRAY>();
    } else if constexpr (std::is_same<U, std::vector<bool>>::value) {
      return get<PARAMETER_BOOL_ARRAY>();
    } else if constexpr (std::is_same<U, std::vector<int>>::value) {
      check(PARAMETER_INTEGER_ARRAY);
      return std::vector<int>(value_.integer_array_value.begin(), value_.integer_array_value.end());
    } else if constexpr (std::is_same<U, std::vector<int64_t>>::value) {
      return get<PARAMETER_INTEGER_ARRAY>();
    } else if constexpr (std::is_same<U, std::vector<float>>::value) {
      check(PARAMETER_DOUBLE_ARRAY);
      return std::vector<float>(value_.double_array_value.begin(), value_.double_array_value.end());
    } else if constexpr (std::is_same<U, std::vector<double>>::value) {
      return get<PARAMETER_DOUBLE_ARRAY>();
    } else {
      static_assert(std::is_same<U, std::vector<std::string>>::value,
                    "unsupported parameter value type");
      return get<PARAMETER_STRING_ARRAY>();
    }
  }

 private:
  void check(ParameterType expected) const {
    if (get_type() != expected) {
      throw ParameterTypeException(expected, get_type());
    }
  }
  rcl_interfaces::msg::ParameterValue value_;
};

// The value as text: "true", "5", "5.5", the string itself, or "[a, b]" for arrays.
std::string to_string(const ParameterValue& value);

}  // namespace rclcpp
