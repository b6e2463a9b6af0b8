// What the command-line tools share: --help before any ROS argument, option values, numbers in
// range, and a main() that reports any error on one line and always shuts rclcpp down.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>

namespace tool_cli {

// --help or -h before any --ros-args.
inline bool helpRequested(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--ros-args") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return true;
    }
  }
  return false;
}

// The value after option args[i]; advances i. Throws std::invalid_argument when there is none.
inline std::string nextValue(const std::vector<std::string>& args, std::size_t& i) {
  if (i + 1 >= args.size()) {
    throw std::invalid_argument(args[i] + " needs a value");
  }
  return args[++i];
}

// `text` as a finite number within [low, high]; std::invalid_argument naming `option` otherwise.
inline double parseNumber(const std::string& option, const std::string& text, double low,
                          double high) {
  std::size_t used = 0;
  double value = 0.0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(value) || value < low || value > high) {
    char range[64];
    std::snprintf(range, sizeof(range), "from %g to %g", low, high);
    throw std::invalid_argument(option + " " + text + ": expected a number " + range);
  }
  return value;
}

// rclcpp::init, `run` with the arguments that are not ROS arguments, rclcpp::shutdown; an
// exception becomes "<program>: <what>" on stderr and status 1.
inline int runRosTool(const char* program, int argc, char** argv,
                      const std::function<int(const std::vector<std::string>&)>& run) {
  int status = 1;
  try {
    rclcpp::init(argc, argv);
    status = run(rclcpp::remove_ros_arguments(argc, argv));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", program, error.what());
  }
  rclcpp::shutdown();
  return status;
}

}  // namespace tool_cli
