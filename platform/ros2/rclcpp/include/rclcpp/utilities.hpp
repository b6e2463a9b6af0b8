// Process-level entry points: init, ok, shutdown, sleep_for.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/init_options.hpp"

namespace rclcpp {

// Initialises the global default context from the command line and installs the signal
// handlers chosen by `signal_handler_options` (SIGINT/SIGTERM shut every context down).
void init(int argc, char const* const argv[], const InitOptions& init_options = InitOptions(),
          SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);

bool install_signal_handlers(
    SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);
bool signal_handlers_installed();
SignalHandlerOptions get_current_signal_handler_options();
bool uninstall_signal_handlers();

// The command line without its ROS part.
std::vector<std::string> remove_ros_arguments(int argc, char const* const argv[]);

bool ok(rclcpp::Context::SharedPtr context = nullptr);

// Shuts `context` (default: the global default context) down; shutting the default context
// down also uninstalls the signal handlers.
bool shutdown(rclcpp::Context::SharedPtr context = nullptr,
              const std::string& reason = "user called rclcpp::shutdown()");

void on_shutdown(std::function<void()> callback, rclcpp::Context::SharedPtr context = nullptr);

// Sleeps, waking early (and returning false) when the context shuts down.
bool sleep_for(const std::chrono::nanoseconds& nanoseconds,
               rclcpp::Context::SharedPtr context = nullptr);

}  // namespace rclcpp
