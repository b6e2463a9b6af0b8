#include "rclcpp/client.hpp"

namespace rclcpp {

ClientBase::ClientBase(Context::SharedPtr context, const ros2_core::ServiceEndpoint& endpoint,
                       CallbackGroup::SharedPtr group)
    : context_(std::move(context)),
      graph_(context_->get_service_graph()),
      endpoint_(endpoint),
      replies_(std::make_shared<ros2_core::ServiceQueue>(
          // Replies are never dropped: each completes a future somebody may wait on.
          0, [weak_group = CallbackGroup::WeakPtr(group)] {
            if (auto g = weak_group.lock()) {
              g->trigger();
            }
          })) {
  id_ = graph_->add_client(endpoint_, replies_);
}

ClientBase::~ClientBase() {
  graph_->remove_client(id_);
}

bool ClientBase::service_is_ready() const {
  return graph_->server_available(id_);
}

bool ClientBase::wait_for_service_nanoseconds(std::chrono::nanoseconds timeout) {
  const auto start = std::chrono::steady_clock::now();
  if (service_is_ready()) {
    return true;
  }
  if (timeout == std::chrono::nanoseconds(0)) {
    return false;
  }
  const std::shared_ptr<ros2_core::GuardCondition> changes = graph_->changes();
  // Shutdown must end the wait even when no server ever shows up.
  std::weak_ptr<ros2_core::GuardCondition> weak_changes = changes;
  const OnShutdownCallbackHandle handle = context_->add_on_shutdown_callback([weak_changes] {
    if (auto c = weak_changes.lock()) {
      c->trigger();
    }
  });
  bool ready = false;
  while (context_->is_valid()) {
    const std::uint64_t seen = changes->generation();
    if (service_is_ready()) {
      ready = true;
      break;
    }
    if (timeout < std::chrono::nanoseconds(0)) {
      changes->wait_for_change(seen);
    } else if (!changes->wait_for_change(seen, start + timeout)) {
      ready = service_is_ready();
      break;
    }
  }
  context_->remove_on_shutdown_callback(handle);
  return ready;
}

void ClientBase::send_request_erased(int64_t sequence_number, std::shared_ptr<const void> request) {
  graph_->send_request(id_, sequence_number, request);
}

bool ClientBase::take_ready(SteadyTime, std::shared_ptr<const void>& work) {
  auto sample = replies_->take();
  if (!sample) {
    return false;
  }
  work = std::make_shared<const ros2_core::ServiceSample>(std::move(*sample));
  return true;
}

}  // namespace rclcpp
