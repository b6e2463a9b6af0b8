// Where a node's services and clients are attached to callback groups.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/service.hpp"

namespace rclcpp {
namespace node_interfaces {

// Adds services and clients to a group of its node (the default group when none is given) and
// resolves service names as the node resolves topic names (expansion, then remapping). Holds
// no reference to the services and clients: the caller owns them.
class NodeServicesInterface {
 public:
  using SharedPtr = std::shared_ptr<NodeServicesInterface>;
  using WeakPtr = std::weak_ptr<NodeServicesInterface>;
  // (name, only_expand) -> fully qualified name.
  using NameResolver = std::function<std::string(const std::string&, bool)>;

  NodeServicesInterface(NodeBaseInterface* node_base, NameResolver resolver)
      : node_base_(node_base), resolver_(std::move(resolver)) {}
  virtual ~NodeServicesInterface() = default;

  // Each throws std::runtime_error when `group` belongs to another node.
  void add_client(rclcpp::ClientBase::SharedPtr client_base_ptr,
                  rclcpp::CallbackGroup::SharedPtr group);
  void add_service(rclcpp::ServiceBase::SharedPtr service_base_ptr,
                   rclcpp::CallbackGroup::SharedPtr group);

  // Throws exceptions::InvalidTopicNameError (as rclcpp does for service names too).
  std::string resolve_service_name(const std::string& name, bool only_expand = false) const {
    return resolver_(name, only_expand);
  }

  // `group`, or the default group when null; throws std::runtime_error naming `entity` when
  // the group belongs to another node. Services and clients need their group before they
  // exist, to wake its executor when a request or reply arrives.
  rclcpp::CallbackGroup::SharedPtr group_or_default(const rclcpp::CallbackGroup::SharedPtr& group,
                                                    const std::string& entity) const;

 private:
  NodeBaseInterface* const node_base_;  // owned by the node, which outlives this interface
  const NameResolver resolver_;
};

}  // namespace node_interfaces
}  // namespace rclcpp
