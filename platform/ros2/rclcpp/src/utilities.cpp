#include "rclcpp/utilities.hpp"

#include "signal_handler.hpp"

namespace rclcpp {

void init(int argc, char const* const argv[], const InitOptions& init_options,
          SignalHandlerOptions signal_handler_options) {
  contexts::get_global_default_context()->init(argc, argv, init_options);
  install_signal_handlers(signal_handler_options);
}

bool install_signal_handlers(SignalHandlerOptions signal_handler_options) {
  return detail::SignalHandler::instance().install(signal_handler_options);
}

bool signal_handlers_installed() {
  return detail::SignalHandler::instance().installed();
}

SignalHandlerOptions get_current_signal_handler_options() {
  return detail::SignalHandler::instance().options();
}

bool uninstall_signal_handlers() {
  return detail::SignalHandler::instance().uninstall();
}

std::vector<std::string> remove_ros_arguments(int argc, char const* const argv[]) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(argv[i]);
  }
  std::vector<std::string> result;
  if (argc > 0) {
    result.emplace_back(argv[0]);
  }
  for (const auto& a : detail::parse_ros_arguments(arguments).unparsed) {
    result.push_back(a);
  }
  return result;
}

bool ok(rclcpp::Context::SharedPtr context) {
  if (context == nullptr) {
    context = contexts::get_global_default_context();
  }
  return context->is_valid();
}

bool shutdown(rclcpp::Context::SharedPtr context, const std::string& reason) {
  auto default_context = contexts::get_global_default_context();
  if (context == nullptr) {
    context = default_context;
  }
  const bool result = context->shutdown(reason);
  if (context == default_context) {
    uninstall_signal_handlers();
  }
  return result;
}

void on_shutdown(std::function<void()> callback, rclcpp::Context::SharedPtr context) {
  if (context == nullptr) {
    context = contexts::get_global_default_context();
  }
  context->add_on_shutdown_callback(std::move(callback));
}

bool sleep_for(const std::chrono::nanoseconds& nanoseconds, rclcpp::Context::SharedPtr context) {
  if (context == nullptr) {
    context = contexts::get_global_default_context();
  }
  return context->sleep_for(nanoseconds);
}

}  // namespace rclcpp
