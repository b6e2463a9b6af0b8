#include "signal_handler.hpp"

#include <cerrno>

#include "rclcpp/context.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp {
namespace detail {

std::atomic<int> SignalHandler::last_signal_{0};

SignalHandler& SignalHandler::instance() {
  static SignalHandler handler;
  return handler;
}

SignalHandler::SignalHandler() {
  sem_init(&signal_received_, 0, 0);
}

SignalHandler::~SignalHandler() {
  uninstall();
  sem_destroy(&signal_received_);
}

void SignalHandler::on_signal(int signum) {
  last_signal_.store(signum);
  sem_post(&instance().signal_received_);
}

bool SignalHandler::install(SignalHandlerOptions options) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (installed_ || options == SignalHandlerOptions::None) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = &SignalHandler::on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  if (options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigInt) {
    sigaction(SIGINT, &action, &old_sigint_);
  }
  if (options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigTerm) {
    sigaction(SIGTERM, &action, &old_sigterm_);
  }
  stop_waiter_.store(false);
  waiter_ = std::thread(&SignalHandler::deferred_handler, this);
  options_ = options;
  installed_ = true;
  return true;
}

bool SignalHandler::uninstall() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!installed_) {
    return false;
  }
  if (options_ == SignalHandlerOptions::All || options_ == SignalHandlerOptions::SigInt) {
    sigaction(SIGINT, &old_sigint_, nullptr);
  }
  if (options_ == SignalHandlerOptions::All || options_ == SignalHandlerOptions::SigTerm) {
    sigaction(SIGTERM, &old_sigterm_, nullptr);
  }
  stop_waiter_.store(true);
  sem_post(&signal_received_);
  if (waiter_.joinable()) {
    // A shutdown callback running on the waiter itself cannot join it.
    if (waiter_.get_id() == std::this_thread::get_id()) {
      waiter_.detach();
    } else {
      waiter_.join();
    }
  }
  installed_ = false;
  options_ = SignalHandlerOptions::None;
  return true;
}

bool SignalHandler::installed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return installed_;
}

SignalHandlerOptions SignalHandler::options() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return options_;
}

void SignalHandler::deferred_handler() {
  while (true) {
    if (sem_wait(&signal_received_) != 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (stop_waiter_.load()) {
      return;
    }
    RCLCPP_INFO(rclcpp::get_logger("rclcpp"), "signal_handler(signum=%d)", last_signal_.load());
    for (const auto& context : get_contexts()) {
      if (context->get_init_options().shutdown_on_signal) {
        context->shutdown("signal handler");
      }
    }
  }
}

}  // namespace detail
}  // namespace rclcpp
