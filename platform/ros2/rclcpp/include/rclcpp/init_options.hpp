// Options of rclcpp::init.
#pragma once

#include "rcutils/allocator.h"

typedef rcutils_allocator_t rcl_allocator_t;
#define rcl_get_default_allocator rcutils_get_default_allocator

namespace rclcpp {

// Value type. `shutdown_on_signal`: whether SIGINT/SIGTERM shut the context down once the
// signal handlers are installed.
class InitOptions {
 public:
  bool shutdown_on_signal = true;

  explicit InitOptions(rcl_allocator_t allocator = rcl_get_default_allocator())
      : allocator_(allocator) {}

  InitOptions& auto_initialize_logging(bool initialize_logging) {
    initialize_logging_ = initialize_logging;
    return *this;
  }
  bool auto_initialize_logging() const { return initialize_logging_; }
  const rcl_allocator_t& get_allocator() const { return allocator_; }

 private:
  rcl_allocator_t allocator_;
  bool initialize_logging_{true};
};

// Which signals rclcpp::init installs handlers for.
enum class SignalHandlerOptions { All, SigInt, SigTerm, None };

}  // namespace rclcpp
