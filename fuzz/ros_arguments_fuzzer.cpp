// The command line's --ros-args part and the parameter files it names. The input is the
// arguments, separated by NUL bytes, then optionally "\n#----\n" and a parameter file; every
// --params-file reads that file. Bad input ends in the exceptions rclcpp documents.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <rclcpp/detail/ros_arguments.hpp>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz_support::splitDocuments(data, size, 2);
  const std::string params_path = (fuzz_support::scratchDir() / "params.yaml").string();
  fuzz_support::writeFile(params_path, parts.size() > 1 ? parts[1] : std::string());

  std::vector<std::string> arguments;
  std::string current;
  for (char c : parts[0]) {
    if (c == '\0') {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  arguments.push_back(current);
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "--params-file") {
      arguments[i + 1] = params_path;
    }
  }
  try {
    const auto parsed = rclcpp::detail::parse_ros_arguments(arguments);
    (void)rclcpp::detail::resolve_parameter_overrides("/lidar_obstacle_detector", {}, &parsed,
                                                      nullptr);
  } catch (const std::runtime_error&) {
  } catch (const std::invalid_argument&) {
  }
  try {
    (void)rclcpp::detail::load_parameter_file(params_path);
  } catch (const std::runtime_error&) {
  }
  return 0;
}
