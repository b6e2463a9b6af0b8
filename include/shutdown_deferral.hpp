// Holds a shutdown requested by the user (Ctrl-C) back while start-up work finishes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <rclcpp/context.hpp>

namespace lidar_perception {

// While it lives, a shutdown of `context` first asks the work to stop (stopRequested() turns
// true) and waits, up to `limit`, until this object is destroyed. The node's configuration runs
// inside a lifecycle transition; if the context were shut down under it, finishing the
// transition (publishing its event) would fail and the user's orderly stop would end in error
// lines. Deferring lets the transition end while the context is still valid.
class ShutdownDeferral {
 public:
  ShutdownDeferral(rclcpp::Context::SharedPtr context, std::chrono::milliseconds limit);
  ~ShutdownDeferral();
  ShutdownDeferral(const ShutdownDeferral&) = delete;
  ShutdownDeferral& operator=(const ShutdownDeferral&) = delete;

  bool stopRequested() const { return state_->stop_requested.load(); }

 private:
  // Shared with the callback, which the context may still hold while this object goes.
  struct State {
    std::atomic<bool> stop_requested{false};
    std::mutex mutex;
    std::condition_variable released_signal;
    bool released{false};  // guarded by mutex
  };

  const rclcpp::Context::SharedPtr context_;
  const std::shared_ptr<State> state_;
  rclcpp::PreShutdownCallbackHandle handle_;
};

}  // namespace lidar_perception
