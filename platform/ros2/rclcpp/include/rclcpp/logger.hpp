// Named loggers of the client library.
#pragma once

#include <string>

namespace rclcpp {

// A logger is only a name; the severity threshold is process-wide (set with
// `--ros-args --log-level LEVEL` or Logger::set_level). Cheap to copy.
class Logger {
 public:
  enum class Level { Unset = 0, Debug = 10, Info = 20, Warn = 30, Error = 40, Fatal = 50 };

  const char* get_name() const { return name_.c_str(); }
  Logger get_child(const std::string& suffix) const { return Logger(name_ + "." + suffix); }
  // Sets the process-wide threshold (loggers share one level here).
  void set_level(Level level);

 private:
  explicit Logger(std::string name) : name_(std::move(name)) {}
  friend Logger get_logger(const std::string& name);
  std::string name_;
};

Logger get_logger(const std::string& name);

}  // namespace rclcpp
