// A node's parameters: declaration, reading, setting through on-set callbacks.
#pragma once

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <rcl_interfaces/msg/list_parameters_result.hpp>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/set_parameters_result.hpp>

#include "rclcpp/logger.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"

namespace rclcpp {
namespace node_interfaces {

// Keeps an on-set-parameters callback registered while the handle lives.
struct OnSetParametersCallbackHandle {
  using SharedPtr = std::shared_ptr<OnSetParametersCallbackHandle>;
  using WeakPtr = std::weak_ptr<OnSetParametersCallbackHandle>;
  using OnParametersSetCallbackType = std::function<rcl_interfaces::msg::SetParametersResult(
      const std::vector<rclcpp::Parameter>&)>;
  OnParametersSetCallbackType callback;
};

// The parameter store of one node. Overrides (command line, parameter files, NodeOptions)
// are resolved at construction; with `automatically_declare_parameters_from_overrides` each
// of them is declared with dynamic typing. A set request runs the registered callbacks
// (newest first) before anything is stored: a rejection stores nothing and an exception
// reaches the caller. Callbacks may not set or declare parameters themselves
// (ParameterModifiedInCallbackException). Thread-safe: one set request at a time.
class NodeParametersInterface {
 public:
  using SharedPtr = std::shared_ptr<NodeParametersInterface>;

  NodeParametersInterface(const Logger& logger, std::map<std::string, ParameterValue> overrides,
                          bool automatically_declare_parameters_from_overrides,
                          bool allow_undeclared_parameters);
  virtual ~NodeParametersInterface() = default;

  // Throws ParameterAlreadyDeclaredException, InvalidParametersException (empty name),
  // InvalidParameterValueException (a callback rejected the initial value).
  const ParameterValue& declare_parameter(
      const std::string& name, const ParameterValue& default_value,
      const rcl_interfaces::msg::ParameterDescriptor& parameter_descriptor =
          rcl_interfaces::msg::ParameterDescriptor(),
      bool ignore_override = false);
  // Throws ParameterNotDeclaredException, ParameterImmutableException (read-only) or
  // InvalidParameterTypeException (statically typed).
  void undeclare_parameter(const std::string& name);
  bool has_parameter(const std::string& name) const;

  // Throws ParameterNotDeclaredException unless undeclared parameters are allowed.
  rclcpp::Parameter get_parameter(const std::string& name) const;
  bool get_parameter(const std::string& name, rclcpp::Parameter& parameter) const;
  std::vector<rclcpp::Parameter> get_parameters(const std::vector<std::string>& names) const;

  // One descriptor (type) per name, in order; an undeclared name gets a default descriptor
  // (PARAMETER_NOT_SET) where undeclared parameters are allowed and throws
  // ParameterNotDeclaredException otherwise.
  std::vector<rcl_interfaces::msg::ParameterDescriptor> describe_parameters(
      const std::vector<std::string>& names) const;
  std::vector<uint8_t> get_parameter_types(const std::vector<std::string>& names) const;
  // The declared names equal to or under one of `prefixes` (all names when there is none), and
  // the prefixes of the names listed. With `depth` > 0 a name below a prefix is listed only
  // while its part from the prefix on ("a.b.c" from "a": ".b.c") holds fewer than `depth` '.'
  // separators, the whole name when no prefix is given, as rclcpp counts them.
  rcl_interfaces::msg::ListParametersResult list_parameters(
      const std::vector<std::string>& prefixes, uint64_t depth) const;

  std::vector<rcl_interfaces::msg::SetParametersResult> set_parameters(
      const std::vector<rclcpp::Parameter>& parameters);
  rcl_interfaces::msg::SetParametersResult set_parameters_atomically(
      const std::vector<rclcpp::Parameter>& parameters);

  OnSetParametersCallbackHandle::SharedPtr add_on_set_parameters_callback(
      OnSetParametersCallbackHandle::OnParametersSetCallbackType callback);
  void remove_on_set_parameters_callback(const OnSetParametersCallbackHandle* const handler);

  const std::map<std::string, ParameterValue>& get_parameter_overrides() const {
    return overrides_;
  }

 private:
  struct Entry {
    ParameterValue value;
    rcl_interfaces::msg::ParameterDescriptor descriptor;
  };

  rcl_interfaces::msg::SetParametersResult run_callbacks(
      const std::vector<rclcpp::Parameter>& parameters);
  void check_not_in_callback(const char* action) const;

  const Logger logger_;
  const std::map<std::string, ParameterValue> overrides_;
  const bool allow_undeclared_;
  // Recursive so that a callback may read parameters while a set request holds it.
  mutable std::recursive_mutex mutex_;
  std::map<std::string, Entry> parameters_;                             // guarded by mutex_
  std::list<OnSetParametersCallbackHandle::WeakPtr> on_set_callbacks_;  // guarded by mutex_
  std::thread::id callback_thread_;  // guarded by mutex_; set while callbacks run
};

}  // namespace node_interfaces
}  // namespace rclcpp
