// How a typed service or client describes itself to the service graph.
#pragma once

#include <string>

#include <rmw/types.h>
#include <rosidl_runtime_c/service_type_support_struct.h>
#include <rosidl_runtime_cpp/traits.hpp>
#include <rosidl_typesupport_introspection_cpp/service_type_support_decl.hpp>

#include "ros2_core/qos_profile.hpp"
#include "ros2_core/service_transport.hpp"

namespace rclcpp {
namespace detail {

// The graph's form of a middleware QoS profile: system defaults read as keep last, reliable,
// volatile, what the middleware picks for them.
ros2_core::QosProfile qos_profile_from_rmw(const rmw_qos_profile_t& profile);

// The introspection description behind a C++ service type support handle. Throws
// std::invalid_argument for a null handle or one without C++ introspection.
const ros2_core::ServiceMembers& service_members(const rosidl_service_type_support_t* handle);

template <typename ServiceT>
ros2_core::ServiceEndpoint service_endpoint(const std::string& resolved_name,
                                            const rmw_qos_profile_t& qos_profile) {
  return ros2_core::ServiceEndpoint{
      resolved_name, rosidl_generator_traits::name<ServiceT>(),
      &service_members(
          rosidl_typesupport_introspection_cpp::get_service_type_support_handle<ServiceT>()),
      qos_profile_from_rmw(qos_profile)};
}

// rmw_request_id_t carries the guid as signed bytes.
rmw_request_id_t to_rmw_request_id(const ros2_core::RequestId& id);
ros2_core::RequestId from_rmw_request_id(const rmw_request_id_t& id);

}  // namespace detail
}  // namespace rclcpp
