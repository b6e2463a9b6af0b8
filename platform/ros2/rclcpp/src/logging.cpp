#include "rclcpp/logging.hpp"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace rclcpp {
namespace {

std::atomic<int>& threshold() {
  static std::atomic<int> level{static_cast<int>(Logger::Level::Info)};
  return level;
}

const char* severity_name(Logger::Level level) {
  switch (level) {
    case Logger::Level::Debug:
      return "DEBUG";
    case Logger::Level::Info:
      return "INFO";
    case Logger::Level::Warn:
      return "WARN";
    case Logger::Level::Error:
      return "ERROR";
    case Logger::Level::Fatal:
      return "FATAL";
    case Logger::Level::Unset:
      break;
  }
  return "UNSET";
}

}  // namespace

void Logger::set_level(Level level) {
  threshold().store(static_cast<int>(level));
}

Logger get_logger(const std::string& name) {
  return Logger(name);
}

namespace detail {

bool log_enabled(Logger::Level level) {
  return static_cast<int>(level) >= threshold().load();
}

void log_line(const Logger& logger, Logger::Level level, const std::string& text) {
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  // One fprintf per line keeps lines of different threads apart.
  std::fprintf(stderr, "[%s] [%.9f] [%s]: %s\n", severity_name(level), now, logger.get_name(),
               text.c_str());
}

void log_printf(const Logger& logger, Logger::Level level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<std::size_t>(length));
  }
  va_end(args);
  log_line(logger, level, text);
}

}  // namespace detail
}  // namespace rclcpp
