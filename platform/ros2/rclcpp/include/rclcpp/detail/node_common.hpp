// The API rclcpp::Node and rclcpp_lifecycle::LifecycleNode share.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <rmw/qos_profiles.h>
#include <rcl_interfaces/msg/set_parameters_result.hpp>
#include <rosidl_runtime_cpp/traits.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/create_service.hpp"
#include "rclcpp/create_timer.hpp"
#include "rclcpp/logger.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/node_interfaces/node_parameters_interface.hpp"
#include "rclcpp/node_interfaces/node_services_interface.hpp"
#include "rclcpp/node_interfaces/node_timers_interface.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_service.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/service.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp/subscription_options.hpp"
#include "rclcpp/time.hpp"
#include "rclcpp/timer.hpp"

namespace rclcpp {
namespace detail {

// Everything a node is apart from its lifecycle: name resolution and remapping, callback
// groups, publishers, subscriptions, services, clients, timers, parameters (with their
// services unless NodeOptions::start_parameter_services is off), clock and logger. Created once per
// node; its interfaces are shared with executors and helpers through shared pointers.
// Thread-safe as far as rclcpp's Node is.
class NodeCommon {
 public:
  using OnSetParametersCallbackHandle = node_interfaces::OnSetParametersCallbackHandle;
  using OnParametersSetCallbackType = OnSetParametersCallbackHandle::OnParametersSetCallbackType;

  // Throws exceptions::InvalidNodeNameError / InvalidNamespaceError for bad names, and the
  // argument errors of parse_ros_arguments for bad `options.arguments()`.
  NodeCommon(const std::string& node_name, const std::string& namespace_,
             const NodeOptions& options);
  virtual ~NodeCommon();
  NodeCommon(const NodeCommon&) = delete;
  NodeCommon& operator=(const NodeCommon&) = delete;

  const char* get_name() const { return node_base_->get_name(); }
  const char* get_namespace() const { return node_base_->get_namespace(); }
  const char* get_fully_qualified_name() const { return node_base_->get_fully_qualified_name(); }
  rclcpp::Logger get_logger() const { return logger_; }
  rclcpp::Clock::SharedPtr get_clock() { return clock_; }
  rclcpp::Clock::ConstSharedPtr get_clock() const { return clock_; }
  rclcpp::Time now() const { return clock_->now(); }
  const NodeOptions& get_node_options() const { return options_; }

  CallbackGroup::SharedPtr create_callback_group(
      CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true) {
    return node_base_->create_callback_group(group_type, automatically_add_to_executor_with_node);
  }

  // The topic name after expansion ("~", relative names) and remapping.
  std::string resolve_topic_name(const std::string& topic) const;

  template <typename MessageT, typename AllocatorT = std::allocator<void>,
            typename PublisherT = rclcpp::Publisher<MessageT, AllocatorT>>
  std::shared_ptr<PublisherT> create_publisher(
      const std::string& topic_name, const rclcpp::QoS& qos,
      const PublisherOptionsWithAllocator<AllocatorT>& options =
          PublisherOptionsWithAllocator<AllocatorT>()) {
    (void)options;
    return std::make_shared<PublisherT>(node_base_->get_context(),
                                        endpoint<MessageT>(topic_name, qos));
  }

  template <typename MessageT, typename CallbackT, typename AllocatorT = std::allocator<void>>
  typename rclcpp::Subscription<MessageT, AllocatorT>::SharedPtr create_subscription(
      const std::string& topic_name, const rclcpp::QoS& qos, CallbackT&& callback,
      const SubscriptionOptionsWithAllocator<AllocatorT>& options =
          SubscriptionOptionsWithAllocator<AllocatorT>()) {
    CallbackGroup::SharedPtr group = group_or_default(options.callback_group);
    auto subscription = std::make_shared<rclcpp::Subscription<MessageT, AllocatorT>>(
        node_base_->get_context()->get_topic_graph(), endpoint<MessageT>(topic_name, qos), group,
        detail::adapt_subscription_callback<MessageT>(std::forward<CallbackT>(callback)));
    group->add_executable(subscription);
    return subscription;
  }

  // The callback takes (request, response), (request_header, request, response),
  // (request_header, request) or (service, request_header, request); see AnyServiceCallback.
  template <typename ServiceT, typename CallbackT>
  typename rclcpp::Service<ServiceT>::SharedPtr create_service(
      const std::string& service_name, CallbackT&& callback,
      const rmw_qos_profile_t& qos_profile = rmw_qos_profile_services_default,
      rclcpp::CallbackGroup::SharedPtr group = nullptr) {
    return rclcpp::create_service<ServiceT, CallbackT>(node_base_, node_services_, service_name,
                                                       std::forward<CallbackT>(callback),
                                                       qos_profile, group);
  }

  template <typename ServiceT>
  typename rclcpp::Client<ServiceT>::SharedPtr create_client(
      const std::string& service_name,
      const rmw_qos_profile_t& qos_profile = rmw_qos_profile_services_default,
      rclcpp::CallbackGroup::SharedPtr group = nullptr) {
    group = node_services_->group_or_default(group, "client");
    auto client = std::make_shared<rclcpp::Client<ServiceT>>(
        node_base_->get_context(),
        detail::service_endpoint<ServiceT>(node_services_->resolve_service_name(service_name),
                                           qos_profile),
        group);
    node_services_->add_client(client, group);
    return client;
  }

  template <typename DurationRepT, typename DurationT, typename CallbackT>
  typename rclcpp::WallTimer<std::decay_t<CallbackT>>::SharedPtr create_wall_timer(
      std::chrono::duration<DurationRepT, DurationT> period, CallbackT&& callback,
      rclcpp::CallbackGroup::SharedPtr group = nullptr) {
    auto timer = std::make_shared<rclcpp::WallTimer<std::decay_t<CallbackT>>>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(period),
        std::decay_t<CallbackT>(std::forward<CallbackT>(callback)));
    node_timers_->add_timer(timer, group);
    return timer;
  }

  // ---- parameters ----
  const rclcpp::ParameterValue& declare_parameter(
      const std::string& name, const rclcpp::ParameterValue& default_value,
      const rcl_interfaces::msg::ParameterDescriptor& parameter_descriptor =
          rcl_interfaces::msg::ParameterDescriptor(),
      bool ignore_override = false) {
    return node_parameters_->declare_parameter(name, default_value, parameter_descriptor,
                                               ignore_override);
  }
  template <typename ParameterT>
  auto declare_parameter(const std::string& name, const ParameterT& default_value,
                         const rcl_interfaces::msg::ParameterDescriptor& parameter_descriptor =
                             rcl_interfaces::msg::ParameterDescriptor(),
                         bool ignore_override = false) {
    const rclcpp::ParameterValue& value = node_parameters_->declare_parameter(
        name, rclcpp::ParameterValue(default_value), parameter_descriptor, ignore_override);
    try {
      return value.get<ParameterT>();
    } catch (const ParameterTypeException& ex) {
      throw exceptions::InvalidParameterTypeException(name, ex.what());
    }
  }
  void undeclare_parameter(const std::string& name) { node_parameters_->undeclare_parameter(name); }
  bool has_parameter(const std::string& name) const {
    return node_parameters_->has_parameter(name);
  }

  rclcpp::Parameter get_parameter(const std::string& name) const {
    return node_parameters_->get_parameter(name);
  }
  bool get_parameter(const std::string& name, rclcpp::Parameter& parameter) const {
    return node_parameters_->get_parameter(name, parameter);
  }
  // False when absent (`parameter` untouched); throws
  // exceptions::InvalidParameterTypeException when the stored type does not fit ParameterT.
  template <typename ParameterT>
  bool get_parameter(const std::string& name, ParameterT& parameter) const {
    rclcpp::Parameter parameter_variant;
    const bool found = node_parameters_->get_parameter(name, parameter_variant);
    if (found) {
      parameter = static_cast<ParameterT>(parameter_variant.get_value<ParameterT>());
    }
    return found;
  }
  template <typename ParameterT>
  bool get_parameter_or(const std::string& name, ParameterT& parameter,
                        const ParameterT& alternative_value) const {
    const bool found = get_parameter(name, parameter);
    if (!found) {
      parameter = alternative_value;
    }
    return found;
  }
  std::vector<rclcpp::Parameter> get_parameters(const std::vector<std::string>& names) const {
    return node_parameters_->get_parameters(names);
  }
  rcl_interfaces::msg::SetParametersResult set_parameter(const rclcpp::Parameter& parameter) {
    return node_parameters_->set_parameters_atomically({parameter});
  }
  std::vector<rcl_interfaces::msg::SetParametersResult> set_parameters(
      const std::vector<rclcpp::Parameter>& parameters) {
    return node_parameters_->set_parameters(parameters);
  }
  rcl_interfaces::msg::SetParametersResult set_parameters_atomically(
      const std::vector<rclcpp::Parameter>& parameters) {
    return node_parameters_->set_parameters_atomically(parameters);
  }
  OnSetParametersCallbackHandle::SharedPtr add_on_set_parameters_callback(
      OnParametersSetCallbackType callback) {
    return node_parameters_->add_on_set_parameters_callback(std::move(callback));
  }
  void remove_on_set_parameters_callback(const OnSetParametersCallbackHandle* const handler) {
    node_parameters_->remove_on_set_parameters_callback(handler);
  }

  // ---- interfaces ----
  node_interfaces::NodeBaseInterface::SharedPtr get_node_base_interface() { return node_base_; }
  node_interfaces::NodeTimersInterface::SharedPtr get_node_timers_interface() {
    return node_timers_;
  }
  node_interfaces::NodeParametersInterface::SharedPtr get_node_parameters_interface() {
    return node_parameters_;
  }
  node_interfaces::NodeServicesInterface::SharedPtr get_node_services_interface() {
    return node_services_;
  }

 protected:
  template <typename MessageT>
  ros2_core::TopicEndpoint endpoint(const std::string& topic_name, const rclcpp::QoS& qos) const {
    return ros2_core::TopicEndpoint{
        resolve_topic_name(topic_name),
        rosidl_generator_traits::name<MessageT>(),
        qos.get_profile(),
        rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MessageT>(),
        node_base_->get_name(),
        node_base_->get_namespace()};
  }

 private:
  CallbackGroup::SharedPtr group_or_default(const CallbackGroup::SharedPtr& group) const;

  const NodeOptions options_;
  detail::RosArguments local_arguments_;
  node_interfaces::NodeBaseInterface::SharedPtr node_base_;
  node_interfaces::NodeTimersInterface::SharedPtr node_timers_;
  node_interfaces::NodeParametersInterface::SharedPtr node_parameters_;
  node_interfaces::NodeServicesInterface::SharedPtr node_services_;
  // Declared after the parameters it answers from, so that it goes first.
  std::shared_ptr<rclcpp::ParameterService> parameter_service_;
  rclcpp::Logger logger_;
  rclcpp::Clock::SharedPtr clock_;
};

}  // namespace detail
}  // namespace rclcpp
