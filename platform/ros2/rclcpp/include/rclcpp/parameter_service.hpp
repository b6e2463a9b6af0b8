// The services through which other processes read and set a node's parameters.
#pragma once

#include <memory>

#include <rmw/qos_profiles.h>
#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>

#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/node_interfaces/node_parameters_interface.hpp"
#include "rclcpp/node_interfaces/node_services_interface.hpp"
#include "rclcpp/service.hpp"

namespace rclcpp {

// Offers "<node>/get_parameters", "set_parameters", "set_parameters_atomically",
// "list_parameters", "describe_parameters" and "get_parameter_types" in the node's namespace,
// in its default callback group, answered by `node_params` exactly as local calls are: set
// requests run the on-set callbacks and the node's validation, and a refusal comes back with
// its reason. A name that is not declared leaves a get/describe/types answer empty, and makes
// a set fail with the exception's text. `node_params` must outlive the services.
class ParameterService {
 public:
  using SharedPtr = std::shared_ptr<ParameterService>;

  ParameterService(const std::shared_ptr<node_interfaces::NodeBaseInterface> node_base,
                   const std::shared_ptr<node_interfaces::NodeServicesInterface> node_services,
                   rclcpp::node_interfaces::NodeParametersInterface* node_params,
                   const rmw_qos_profile_t& qos_profile = rmw_qos_profile_parameters);

 private:
  Service<rcl_interfaces::srv::GetParameters>::SharedPtr get_parameters_service_;
  Service<rcl_interfaces::srv::GetParameterTypes>::SharedPtr get_parameter_types_service_;
  Service<rcl_interfaces::srv::SetParameters>::SharedPtr set_parameters_service_;
  Service<rcl_interfaces::srv::SetParametersAtomically>::SharedPtr
      set_parameters_atomically_service_;
  Service<rcl_interfaces::srv::DescribeParameters>::SharedPtr describe_parameters_service_;
  Service<rcl_interfaces::srv::ListParameters>::SharedPtr list_parameters_service_;
};

}  // namespace rclcpp
