#include "rclcpp/parameter_service.hpp"

#include <string>
#include <vector>

#include "rclcpp/create_service.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp {
namespace {

namespace srv = rcl_interfaces::srv;
using Header = std::shared_ptr<rmw_request_id_t>;

// rclcpp reports a request naming an undeclared parameter only at debug level: asking is not
// an error of this node.
void log_not_declared(const char* what, const std::exception& ex) {
  RCLCPP_DEBUG(rclcpp::get_logger("rclcpp"), "Failed to %s: %s", what, ex.what());
}

}  // namespace

ParameterService::ParameterService(
    const std::shared_ptr<node_interfaces::NodeBaseInterface> node_base,
    const std::shared_ptr<node_interfaces::NodeServicesInterface> node_services,
    rclcpp::node_interfaces::NodeParametersInterface* node_params,
    const rmw_qos_profile_t& qos_profile) {
  const std::string prefix = std::string(node_base->get_name()) + "/";

  get_parameters_service_ = create_service<srv::GetParameters>(
      node_base, node_services, prefix + "get_parameters",
      [node_params](Header, std::shared_ptr<srv::GetParameters::Request> request,
                    std::shared_ptr<srv::GetParameters::Response> response) {
        try {
          for (const auto& parameter : node_params->get_parameters(request->names)) {
            response->values.push_back(parameter.get_value_message());
          }
        } catch (const exceptions::ParameterNotDeclaredException& ex) {
          response->values.clear();
          log_not_declared("get parameters", ex);
        }
      },
      qos_profile, nullptr);

  get_parameter_types_service_ = create_service<srv::GetParameterTypes>(
      node_base, node_services, prefix + "get_parameter_types",
      [node_params](Header, std::shared_ptr<srv::GetParameterTypes::Request> request,
                    std::shared_ptr<srv::GetParameterTypes::Response> response) {
        try {
          response->types = node_params->get_parameter_types(request->names);
        } catch (const exceptions::ParameterNotDeclaredException& ex) {
          log_not_declared("get parameter types", ex);
        }
      },
      qos_profile, nullptr);

  set_parameters_service_ = create_service<srv::SetParameters>(
      node_base, node_services, prefix + "set_parameters",
      [node_params](Header, std::shared_ptr<srv::SetParameters::Request> request,
                    std::shared_ptr<srv::SetParameters::Response> response) {
        // One at a time: each parameter gets its own result, as with set_parameters.
        for (const auto& message : request->parameters) {
          rcl_interfaces::msg::SetParametersResult result;
          try {
            result = node_params->set_parameters_atomically(
                {rclcpp::Parameter::from_parameter_msg(message)});
          } catch (const exceptions::ParameterNotDeclaredException& ex) {
            log_not_declared("set parameter", ex);
            result.successful = false;
            result.reason = ex.what();
          }
          response->results.push_back(result);
        }
      },
      qos_profile, nullptr);

  set_parameters_atomically_service_ = create_service<srv::SetParametersAtomically>(
      node_base, node_services, prefix + "set_parameters_atomically",
      [node_params](Header, std::shared_ptr<srv::SetParametersAtomically::Request> request,
                    std::shared_ptr<srv::SetParametersAtomically::Response> response) {
        std::vector<rclcpp::Parameter> parameters;
        parameters.reserve(request->parameters.size());
        for (const auto& message : request->parameters) {
          parameters.push_back(rclcpp::Parameter::from_parameter_msg(message));
        }
        try {
          response->result = node_params->set_parameters_atomically(parameters);
        } catch (const exceptions::ParameterNotDeclaredException& ex) {
          log_not_declared("set parameters atomically", ex);
          response->result.successful = false;
          response->result.reason = "One or more parameters were not declared before setting";
        }
      },
      qos_profile, nullptr);

  describe_parameters_service_ = create_service<srv::DescribeParameters>(
      node_base, node_services, prefix + "describe_parameters",
      [node_params](Header, std::shared_ptr<srv::DescribeParameters::Request> request,
                    std::shared_ptr<srv::DescribeParameters::Response> response) {
        try {
          response->descriptors = node_params->describe_parameters(request->names);
        } catch (const exceptions::ParameterNotDeclaredException& ex) {
          log_not_declared("describe parameters", ex);
        }
      },
      qos_profile, nullptr);

  list_parameters_service_ = create_service<srv::ListParameters>(
      node_base, node_services, prefix + "list_parameters",
      [node_params](Header, std::shared_ptr<srv::ListParameters::Request> request,
                    std::shared_ptr<srv::ListParameters::Response> response) {
        response->result = node_params->list_parameters(request->prefixes, request->depth);
      },
      qos_profile, nullptr);
}

}  // namespace rclcpp
