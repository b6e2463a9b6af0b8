// Creating a service from a node's interfaces.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include <rmw/types.h>

#include "rclcpp/any_service_callback.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/node_interfaces/node_services_interface.hpp"
#include "rclcpp/service.hpp"

namespace rclcpp {

// Creates a server of ServiceT on `service_name` (resolved in the node's namespace) in `group`
// (the node's default group when null). Throws std::runtime_error for a group of another node
// and exceptions::InvalidTopicNameError for a bad name.
template <typename ServiceT, typename CallbackT>
typename rclcpp::Service<ServiceT>::SharedPtr create_service(
    std::shared_ptr<node_interfaces::NodeBaseInterface> node_base,
    std::shared_ptr<node_interfaces::NodeServicesInterface> node_services,
    const std::string& service_name, CallbackT&& callback, const rmw_qos_profile_t& qos_profile,
    rclcpp::CallbackGroup::SharedPtr group) {
  rclcpp::AnyServiceCallback<ServiceT> any_service_callback;
  any_service_callback.set(std::forward<CallbackT>(callback));
  group = node_services->group_or_default(group, "service");
  auto service = std::make_shared<rclcpp::Service<ServiceT>>(
      node_base->get_context()->get_service_graph(),
      detail::service_endpoint<ServiceT>(node_services->resolve_service_name(service_name),
                                         qos_profile),
      group, std::move(any_service_callback));
  node_services->add_service(service, group);
  return service;
}

}  // namespace rclcpp
