#pragma once

#include "rclcpp/context.hpp"

namespace rclcpp {

// Options common to all executors: the context whose shutdown ends spinning.
struct ExecutorOptions {
  ExecutorOptions() : context(contexts::get_global_default_context()), max_conditions(0) {}
  Context::SharedPtr context;
  size_t max_conditions;
};

}  // namespace rclcpp
