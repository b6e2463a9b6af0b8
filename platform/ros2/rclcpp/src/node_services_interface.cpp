#include "rclcpp/node_interfaces/node_services_interface.hpp"

#include <stdexcept>

namespace rclcpp {
namespace node_interfaces {

rclcpp::CallbackGroup::SharedPtr NodeServicesInterface::group_or_default(
    const rclcpp::CallbackGroup::SharedPtr& group, const std::string& entity) const {
  if (group == nullptr) {
    return node_base_->get_default_callback_group();
  }
  if (!node_base_->callback_group_in_node(group)) {
    throw std::runtime_error("Cannot create " + entity + ", group not in node.");
  }
  return group;
}

void NodeServicesInterface::add_client(rclcpp::ClientBase::SharedPtr client_base_ptr,
                                       rclcpp::CallbackGroup::SharedPtr group) {
  group_or_default(group, "client")->add_executable(client_base_ptr);
}

void NodeServicesInterface::add_service(rclcpp::ServiceBase::SharedPtr service_base_ptr,
                                        rclcpp::CallbackGroup::SharedPtr group) {
  group_or_default(group, "service")->add_executable(service_base_ptr);
}

}  // namespace node_interfaces
}  // namespace rclcpp
