// Process-wide SIGINT/SIGTERM handling.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

#include "rclcpp/init_options.hpp"

namespace rclcpp {
namespace detail {

// The installed handlers only record the signal and post a semaphore (the one thing a signal
// handler may safely do); a dedicated thread waits on it and shuts down every context whose
// init options ask for it. install/uninstall own that thread and restore the previous
// handlers. One instance per process, as signals are.
class SignalHandler {
 public:
  static SignalHandler& instance();
  ~SignalHandler();

  bool install(SignalHandlerOptions options);
  bool uninstall();
  bool installed() const;
  SignalHandlerOptions options() const;

 private:
  SignalHandler();
  static void on_signal(int signum);
  void deferred_handler();

  mutable std::mutex mutex_;
  bool installed_{false};                                     // guarded by mutex_
  SignalHandlerOptions options_{SignalHandlerOptions::None};  // guarded by mutex_
  struct sigaction old_sigint_ {};
  struct sigaction old_sigterm_ {};
  std::thread waiter_;
  std::atomic<bool> stop_waiter_{false};
  sem_t signal_received_;
  static std::atomic<int> last_signal_;
};

}  // namespace detail
}  // namespace rclcpp
