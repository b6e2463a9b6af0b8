#include "rclcpp/service.hpp"

#include <cstring>
#include <stdexcept>

#include <rosidl_typesupport_introspection_cpp/identifier.hpp>

namespace rclcpp {
namespace detail {

ros2_core::QosProfile qos_profile_from_rmw(const rmw_qos_profile_t& profile) {
  ros2_core::QosProfile result;
  result.history = profile.history == RMW_QOS_POLICY_HISTORY_KEEP_ALL
                       ? ros2_core::History::KeepAll
                       : ros2_core::History::KeepLast;
  result.depth = profile.depth;
  result.reliability = profile.reliability == RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT
                           ? ros2_core::Reliability::BestEffort
                           : ros2_core::Reliability::Reliable;
  result.durability = profile.durability == RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL
                          ? ros2_core::Durability::TransientLocal
                          : ros2_core::Durability::Volatile;
  return result;
}

const ros2_core::ServiceMembers& service_members(const rosidl_service_type_support_t* handle) {
  if (handle == nullptr) {
    throw std::invalid_argument("null service type support handle");
  }
  const char* identifier = rosidl_typesupport_introspection_cpp::typesupport_identifier;
  if (handle->typesupport_identifier != identifier &&
      std::strcmp(handle->typesupport_identifier, identifier) != 0) {
    handle = handle->func != nullptr ? handle->func(handle, identifier) : nullptr;
    if (handle == nullptr) {
      throw std::invalid_argument("service type support handle has no C++ introspection");
    }
  }
  return *static_cast<const ros2_core::ServiceMembers*>(handle->data);
}

rmw_request_id_t to_rmw_request_id(const ros2_core::RequestId& id) {
  rmw_request_id_t result{};
  std::memcpy(result.writer_guid, id.writer_guid.data(), sizeof(result.writer_guid));
  result.sequence_number = id.sequence_number;
  return result;
}

ros2_core::RequestId from_rmw_request_id(const rmw_request_id_t& id) {
  ros2_core::RequestId result;
  std::memcpy(result.writer_guid.data(), id.writer_guid, sizeof(id.writer_guid));
  result.sequence_number = id.sequence_number;
  return result;
}

}  // namespace detail

ServiceBase::ServiceBase(std::shared_ptr<ros2_core::ServiceGraph> graph,
                         const ros2_core::ServiceEndpoint& endpoint, CallbackGroup::SharedPtr group)
    : graph_(std::move(graph)),
      endpoint_(endpoint),
      requests_(std::make_shared<ros2_core::ServiceQueue>(
          ros2_core::queue_limit(endpoint.qos), [weak_group = CallbackGroup::WeakPtr(group)] {
            if (auto g = weak_group.lock()) {
              g->trigger();
            }
          })) {
  id_ = graph_->add_server(endpoint_, requests_);
}

ServiceBase::~ServiceBase() {
  graph_->remove_server(id_);
}

bool ServiceBase::take_ready(SteadyTime, std::shared_ptr<const void>& work) {
  auto sample = requests_->take();
  if (!sample) {
    return false;
  }
  work = std::make_shared<const ros2_core::ServiceSample>(std::move(*sample));
  return true;
}

void ServiceBase::send_reply(const rmw_request_id_t& request_id,
                             std::shared_ptr<const void> response) {
  graph_->send_reply(id_, detail::from_rmw_request_id(request_id), response);
}

}  // namespace rclcpp
