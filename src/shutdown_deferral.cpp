#include "shutdown_deferral.hpp"

#include <utility>

namespace lidar_perception {

ShutdownDeferral::ShutdownDeferral(rclcpp::Context::SharedPtr context,
                                   std::chrono::milliseconds limit)
    : context_(std::move(context)), state_(std::make_shared<State>()) {
  handle_ = context_->add_pre_shutdown_callback([state = state_, limit] {
    state->stop_requested = true;
    std::unique_lock<std::mutex> lock(state->mutex);
    state->released_signal.wait_for(lock, limit, [&state] { return state->released; });
  });
}

ShutdownDeferral::~ShutdownDeferral() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
  }
  state_->released_signal.notify_all();
  context_->remove_pre_shutdown_callback(handle_);
}

}  // namespace lidar_perception
