// Options of a node, in rclcpp's builder style.
#pragma once

#include <string>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/init_options.hpp"
#include "rclcpp/parameter.hpp"

namespace rclcpp {

// Value type. `arguments` are ROS arguments for this node only ("--ros-args -p a:=1 ...");
// `parameter_overrides` win over every command-line source.
class NodeOptions {
 public:
  explicit NodeOptions(rcl_allocator_t allocator = rcl_get_default_allocator())
      : allocator_(allocator) {}

  Context::SharedPtr context() const;
  NodeOptions& context(Context::SharedPtr context) {
    context_ = std::move(context);
    return *this;
  }
  const std::vector<std::string>& arguments() const { return arguments_; }
  NodeOptions& arguments(const std::vector<std::string>& arguments) {
    arguments_ = arguments;
    return *this;
  }
  std::vector<Parameter>& parameter_overrides() { return parameter_overrides_; }
  const std::vector<Parameter>& parameter_overrides() const { return parameter_overrides_; }
  NodeOptions& parameter_overrides(const std::vector<Parameter>& parameter_overrides) {
    parameter_overrides_ = parameter_overrides;
    return *this;
  }
  template <typename ParameterT>
  NodeOptions& append_parameter_override(const std::string& name, const ParameterT& value) {
    parameter_overrides_.emplace_back(name, ParameterValue(value));
    return *this;
  }
  bool use_global_arguments() const { return use_global_arguments_; }
  NodeOptions& use_global_arguments(bool use_global_arguments) {
    use_global_arguments_ = use_global_arguments;
    return *this;
  }
  bool enable_rosout() const { return enable_rosout_; }
  NodeOptions& enable_rosout(bool enable_rosout) {
    enable_rosout_ = enable_rosout;
    return *this;
  }
  bool use_intra_process_comms() const { return use_intra_process_comms_; }
  NodeOptions& use_intra_process_comms(bool use_intra_process_comms) {
    use_intra_process_comms_ = use_intra_process_comms;
    return *this;
  }
  bool start_parameter_services() const { return start_parameter_services_; }
  NodeOptions& start_parameter_services(bool start_parameter_services) {
    start_parameter_services_ = start_parameter_services;
    return *this;
  }
  bool start_parameter_event_publisher() const { return start_parameter_event_publisher_; }
  NodeOptions& start_parameter_event_publisher(bool start) {
    start_parameter_event_publisher_ = start;
    return *this;
  }
  bool allow_undeclared_parameters() const { return allow_undeclared_parameters_; }
  NodeOptions& allow_undeclared_parameters(bool allow) {
    allow_undeclared_parameters_ = allow;
    return *this;
  }
  bool automatically_declare_parameters_from_overrides() const {
    return automatically_declare_parameters_from_overrides_;
  }
  NodeOptions& automatically_declare_parameters_from_overrides(bool automatically_declare) {
    automatically_declare_parameters_from_overrides_ = automatically_declare;
    return *this;
  }
  const rcl_allocator_t& allocator() const { return allocator_; }

 private:
  rcl_allocator_t allocator_;
  Context::SharedPtr context_;
  std::vector<std::string> arguments_;
  std::vector<Parameter> parameter_overrides_;
  bool use_global_arguments_{true};
  bool enable_rosout_{true};
  bool use_intra_process_comms_{false};
  bool start_parameter_services_{true};
  bool start_parameter_event_publisher_{true};
  bool allow_undeclared_parameters_{false};
  bool automatically_declare_parameters_from_overrides_{false};
};

}  // namespace rclcpp
