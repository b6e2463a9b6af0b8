#include "rclcpp/node_interfaces/node_parameters_interface.hpp"

#include <algorithm>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp {
namespace node_interfaces {
namespace {

// Resets the "callbacks running" marker however the callbacks leave.
class CallbackScope {
 public:
  explicit CallbackScope(std::thread::id& marker) : marker_(marker) {
    marker_ = std::this_thread::get_id();
  }
  ~CallbackScope() { marker_ = std::thread::id(); }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;

 private:
  std::thread::id& marker_;
};

}  // namespace

NodeParametersInterface::NodeParametersInterface(
    const Logger& logger, std::map<std::string, ParameterValue> overrides,
    bool automatically_declare_parameters_from_overrides, bool allow_undeclared_parameters)
    : logger_(logger),
      overrides_(std::move(overrides)),
      allow_undeclared_(allow_undeclared_parameters) {
  if (automatically_declare_parameters_from_overrides) {
    rcl_interfaces::msg::ParameterDescriptor descriptor;
    descriptor.dynamic_typing = true;
    for (const auto& entry : overrides_) {
      if (!has_parameter(entry.first)) {
        declare_parameter(entry.first, entry.second, descriptor, true);
      }
    }
  }
}

void NodeParametersInterface::check_not_in_callback(const char* action) const {
  if (callback_thread_ == std::this_thread::get_id()) {
    throw exceptions::ParameterModifiedInCallbackException(std::string("cannot ") + action +
                                                           " a parameter from within set callback");
  }
}

const ParameterValue& NodeParametersInterface::declare_parameter(
    const std::string& name, const ParameterValue& default_value,
    const rcl_interfaces::msg::ParameterDescriptor& parameter_descriptor, bool ignore_override) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  check_not_in_callback("declare");
  if (name.empty()) {
    throw exceptions::InvalidParametersException("parameter name must not be empty");
  }
  if (parameters_.count(name) != 0) {
    throw exceptions::ParameterAlreadyDeclaredException(name);
  }
  ParameterValue initial = default_value;
  if (!ignore_override) {
    auto it = overrides_.find(name);
    if (it != overrides_.end()) {
      initial = it->second;
    }
  }
  if (!parameter_descriptor.dynamic_typing && default_value.get_type() != PARAMETER_NOT_SET &&
      initial.get_type() != default_value.get_type()) {
    throw exceptions::InvalidParameterTypeException(
        name, "Wrong parameter type, parameter {" + name + "} is of type {" +
                  rclcpp::to_string(default_value.get_type()) + "}, setting it to {" +
                  rclcpp::to_string(initial.get_type()) + "} is not allowed.");
  }
  const auto result = run_callbacks({rclcpp::Parameter(name, initial)});
  if (!result.successful) {
    throw exceptions::InvalidParameterValueException("parameter '" + name +
                                                     "' could not be set: " + result.reason);
  }
  Entry entry{initial, parameter_descriptor};
  entry.descriptor.name = name;
  entry.descriptor.type = initial.get_type();
  return parameters_.emplace(name, std::move(entry)).first->second.value;
}

void NodeParametersInterface::undeclare_parameter(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  check_not_in_callback("undeclare");
  auto it = parameters_.find(name);
  if (it == parameters_.end()) {
    throw exceptions::ParameterNotDeclaredException("cannot undeclare parameter '" + name +
                                                    "' which has not yet been declared");
  }
  if (it->second.descriptor.read_only) {
    throw exceptions::ParameterImmutableException("cannot undeclare parameter '" + name +
                                                  "' because it is read-only");
  }
  if (!it->second.descriptor.dynamic_typing) {
    throw exceptions::InvalidParameterTypeException(
        name, "cannot undeclare a statically typed parameter");
  }
  parameters_.erase(it);
}

bool NodeParametersInterface::has_parameter(const std::string& name) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return parameters_.count(name) != 0;
}

rclcpp::Parameter NodeParametersInterface::get_parameter(const std::string& name) const {
  rclcpp::Parameter parameter;
  if (get_parameter(name, parameter)) {
    return parameter;
  }
  if (allow_undeclared_) {
    return rclcpp::Parameter(name);
  }
  throw exceptions::ParameterNotDeclaredException(name);
}

bool NodeParametersInterface::get_parameter(const std::string& name,
                                            rclcpp::Parameter& parameter) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = parameters_.find(name);
  if (it == parameters_.end() || it->second.value.get_type() == PARAMETER_NOT_SET) {
    return false;
  }
  parameter = rclcpp::Parameter(name, it->second.value);
  return true;
}

std::vector<rclcpp::Parameter> NodeParametersInterface::get_parameters(
    const std::vector<std::string>& names) const {
  std::vector<rclcpp::Parameter> result;
  for (const auto& name : names) {
    result.push_back(get_parameter(name));
  }
  return result;
}

std::vector<rcl_interfaces::msg::ParameterDescriptor> NodeParametersInterface::describe_parameters(
    const std::vector<std::string>& names) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<rcl_interfaces::msg::ParameterDescriptor> result;
  result.reserve(names.size());
  for (const auto& name : names) {
    auto it = parameters_.find(name);
    if (it != parameters_.end()) {
      result.push_back(it->second.descriptor);
    } else if (allow_undeclared_) {
      rcl_interfaces::msg::ParameterDescriptor descriptor;
      descriptor.name = name;
      result.push_back(descriptor);
    } else {
      throw exceptions::ParameterNotDeclaredException(name);
    }
  }
  return result;
}

std::vector<uint8_t> NodeParametersInterface::get_parameter_types(
    const std::vector<std::string>& names) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<uint8_t> result;
  result.reserve(names.size());
  for (const auto& name : names) {
    auto it = parameters_.find(name);
    if (it != parameters_.end()) {
      result.push_back(it->second.value.get_type());
    } else if (allow_undeclared_) {
      result.push_back(PARAMETER_NOT_SET);
    } else {
      throw exceptions::ParameterNotDeclaredException(name);
    }
  }
  return result;
}

rcl_interfaces::msg::ListParametersResult NodeParametersInterface::list_parameters(
    const std::vector<std::string>& prefixes, uint64_t depth) const {
  const char separator = '.';
  // Whether `suffix`, the part of a name below where listing starts, lies within `depth`.
  const auto within_depth = [depth, separator](const std::string& suffix) {
    return depth == 0 ||
           static_cast<uint64_t>(std::count(suffix.begin(), suffix.end(), separator)) < depth;
  };
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  rcl_interfaces::msg::ListParametersResult result;
  for (const auto& entry : parameters_) {
    const std::string& name = entry.first;
    bool listed = prefixes.empty() && within_depth(name);
    for (const auto& prefix : prefixes) {
      if (listed) {
        break;
      }
      if (name == prefix) {
        listed = true;
      } else if (name.compare(0, prefix.size() + 1, prefix + separator) == 0) {
        listed = within_depth(name.substr(prefix.size()));
      }
    }
    if (!listed) {
      continue;
    }
    result.names.push_back(name);
    const std::size_t last = name.rfind(separator);
    if (last != std::string::npos) {
      const std::string name_prefix = name.substr(0, last);
      if (std::find(result.prefixes.begin(), result.prefixes.end(), name_prefix) ==
          result.prefixes.end()) {
        result.prefixes.push_back(name_prefix);
      }
    }
  }
  return result;
}

rcl_interfaces::msg::SetParametersResult NodeParametersInterface::run_callbacks(
    const std::vector<rclcpp::Parameter>& parameters) {
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = true;
  CallbackScope scope(callback_thread_);
  for (auto it = on_set_callbacks_.begin(); it != on_set_callbacks_.end();) {
    auto handle = it->lock();
    if (handle == nullptr) {
      it = on_set_callbacks_.erase(it);
      continue;
    }
    result = handle->callback(parameters);
    if (!result.successful) {
      return result;
    }
    ++it;
  }
  return result;
}

std::vector<rcl_interfaces::msg::SetParametersResult> NodeParametersInterface::set_parameters(
    const std::vector<rclcpp::Parameter>& parameters) {
  std::vector<rcl_interfaces::msg::SetParametersResult> results;
  results.reserve(parameters.size());
  for (const auto& parameter : parameters) {
    results.push_back(set_parameters_atomically({parameter}));
  }
  return results;
}

rcl_interfaces::msg::SetParametersResult NodeParametersInterface::set_parameters_atomically(
    const std::vector<rclcpp::Parameter>& parameters) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  check_not_in_callback("set");
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = true;
  for (const auto& parameter : parameters) {
    const std::string& name = parameter.get_name();
    if (name.empty()) {
      throw exceptions::InvalidParametersException("parameter name must not be empty");
    }
    auto it = parameters_.find(name);
    if (it == parameters_.end()) {
      if (!allow_undeclared_) {
        throw exceptions::ParameterNotDeclaredException(
            "parameter '" + name + "' cannot be set because it was not declared");
      }
      continue;
    }
    const auto& descriptor = it->second.descriptor;
    if (descriptor.read_only) {
      result.successful = false;
      result.reason = "parameter '" + name + "' cannot be set because it is read-only";
      return result;
    }
    // Setting "not set" undeclares, which a statically typed parameter refuses.
    if (!descriptor.dynamic_typing && parameter.get_type() == PARAMETER_NOT_SET &&
        it->second.value.get_type() != PARAMETER_NOT_SET) {
      result.successful = false;
      result.reason = "cannot undeclare a statically typed parameter";
      return result;
    }
    if (!descriptor.dynamic_typing && parameter.get_type() != PARAMETER_NOT_SET &&
        parameter.get_type() != it->second.value.get_type()) {
      result.successful = false;
      result.reason = "Wrong parameter type, parameter {" + name + "} is of type {" +
                      rclcpp::to_string(it->second.value.get_type()) + "}, setting it to {" +
                      rclcpp::to_string(parameter.get_type()) + "} is not allowed.";
      return result;
    }
  }
  result = run_callbacks(parameters);
  if (!result.successful) {
    return result;
  }
  for (const auto& parameter : parameters) {
    const std::string& name = parameter.get_name();
    auto it = parameters_.find(name);
    if (parameter.get_type() == PARAMETER_NOT_SET) {
      // Setting "not set" undeclares, as in rclcpp.
      if (it != parameters_.end()) {
        parameters_.erase(it);
      }
      continue;
    }
    if (it == parameters_.end()) {
      rcl_interfaces::msg::ParameterDescriptor descriptor;
      descriptor.name = name;
      descriptor.type = parameter.get_type();
      descriptor.dynamic_typing = true;
      parameters_.emplace(name, Entry{parameter.get_parameter_value(), descriptor});
    } else {
      it->second.value = parameter.get_parameter_value();
      it->second.descriptor.type = parameter.get_type();
    }
  }
  return result;
}

OnSetParametersCallbackHandle::SharedPtr NodeParametersInterface::add_on_set_parameters_callback(
    OnSetParametersCallbackHandle::OnParametersSetCallbackType callback) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  check_not_in_callback("add a callback to");
  auto handle = std::make_shared<OnSetParametersCallbackHandle>();
  handle->callback = std::move(callback);
  on_set_callbacks_.emplace_front(handle);
  return handle;
}

void NodeParametersInterface::remove_on_set_parameters_callback(
    const OnSetParametersCallbackHandle* const handler) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  check_not_in_callback("remove a callback from");
  for (auto it = on_set_callbacks_.begin(); it != on_set_callbacks_.end(); ++it) {
    if (it->lock().get() == handler) {
      on_set_callbacks_.erase(it);
      return;
    }
  }
  throw std::runtime_error("Callback doesn't exist");
}

}  // namespace node_interfaces
}  // namespace rclcpp
