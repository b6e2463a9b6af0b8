// Exception types of the client library, with rclcpp's messages.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace rclcpp {
namespace exceptions {

// A failure of the layer below the client library (publishing, initialisation).
class RCLError : public std::runtime_error {
 public:
  // The text reads "<prefix>: <reason>", as rclcpp formats errors it takes from rcl.
  RCLError(const std::string& prefix, const std::string& reason)
      : std::runtime_error(prefix + ": " + reason) {}
};

class RCLInvalidArgument : public RCLError {
 public:
  using RCLError::RCLError;
};

// The ROS part of the command line could not be parsed.
class RCLInvalidROSArgsError : public RCLError {
 public:
  using RCLError::RCLError;
};

class UnknownROSArgsError : public std::runtime_error {
 public:
  explicit UnknownROSArgsError(std::vector<std::string>&& unknown_ros_args_in);
  const std::vector<std::string> unknown_ros_args;
};

class InvalidNodeNameError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class InvalidNamespaceError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class InvalidTopicNameError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class InvalidParametersException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class InvalidParameterValueException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class InvalidParameterTypeException : public std::runtime_error {
 public:
  InvalidParameterTypeException(const std::string& name, const std::string message)
      : std::runtime_error("parameter '" + name + "' has invalid type: " + message) {}
};

class ParameterAlreadyDeclaredException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ParameterNotDeclaredException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ParameterImmutableException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ParameterModifiedInCallbackException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ParameterUninitializedException : public std::runtime_error {
 public:
  explicit ParameterUninitializedException(const std::string& name)
      : std::runtime_error("parameter '" + name + "' is not initialized") {}
};

}  // namespace exceptions
}  // namespace rclcpp
