// printf-style logging macros of the client library: RCLCPP_DEBUG/INFO/WARN/ERROR/FATAL
// (and _ONCE, _STREAM variants). Lines go to stderr as "[LEVEL] [seconds] [logger]: text".
#pragma once

#include <sstream>
#include <string>

#include "rclcpp/logger.hpp"

namespace rclcpp {
namespace detail {

bool log_enabled(Logger::Level level);
void log_line(const Logger& logger, Logger::Level level, const std::string& text);
void log_printf(const Logger& logger, Logger::Level level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace detail
}  // namespace rclcpp

#define RCLCPP_LOG_IMPL_(level, logger, ...)                      \
  do {                                                            \
    if (::rclcpp::detail::log_enabled(level)) {                   \
      ::rclcpp::detail::log_printf((logger), level, __VA_ARGS__); \
    }                                                             \
  } while (0)

#define RCLCPP_LOG_ONCE_IMPL_(level, logger, ...)   \
  do {                                              \
    static bool rclcpp_logged_once_ = false;        \
    if (!rclcpp_logged_once_) {                     \
      rclcpp_logged_once_ = true;                   \
      RCLCPP_LOG_IMPL_(level, logger, __VA_ARGS__); \
    }                                               \
  } while (0)

#define RCLCPP_LOG_STREAM_IMPL_(level, logger, stream_arg)               \
  do {                                                                   \
    if (::rclcpp::detail::log_enabled(level)) {                          \
      std::stringstream rclcpp_stream_;                                  \
      rclcpp_stream_ << stream_arg;                                      \
      ::rclcpp::detail::log_line((logger), level, rclcpp_stream_.str()); \
    }                                                                    \
  } while (0)

#define RCLCPP_DEBUG(logger, ...) \
  RCLCPP_LOG_IMPL_(::rclcpp::Logger::Level::Debug, logger, __VA_ARGS__)
#define RCLCPP_INFO(logger, ...) \
  RCLCPP_LOG_IMPL_(::rclcpp::Logger::Level::Info, logger, __VA_ARGS__)
#define RCLCPP_WARN(logger, ...) \
  RCLCPP_LOG_IMPL_(::rclcpp::Logger::Level::Warn, logger, __VA_ARGS__)
#define RCLCPP_ERROR(logger, ...) \
  RCLCPP_LOG_IMPL_(::rclcpp::Logger::Level::Error, logger, __VA_ARGS__)
#define RCLCPP_FATAL(logger, ...) \
  RCLCPP_LOG_IMPL_(::rclcpp::Logger::Level::Fatal, logger, __VA_ARGS__)
#define RCLCPP_DEBUG_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_IMPL_(::rclcpp::Logger::Level::Debug, logger, __VA_ARGS__)
#define RCLCPP_INFO_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_IMPL_(::rclcpp::Logger::Level::Info, logger, __VA_ARGS__)
#define RCLCPP_WARN_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_IMPL_(::rclcpp::Logger::Level::Warn, logger, __VA_ARGS__)
#define RCLCPP_ERROR_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_IMPL_(::rclcpp::Logger::Level::Error, logger, __VA_ARGS__)
#define RCLCPP_DEBUG_STREAM(logger, s) \
  RCLCPP_LOG_STREAM_IMPL_(::rclcpp::Logger::Level::Debug, logger, s)
#define RCLCPP_INFO_STREAM(logger, s) \
  RCLCPP_LOG_STREAM_IMPL_(::rclcpp::Logger::Level::Info, logger, s)
#define RCLCPP_WARN_STREAM(logger, s) \
  RCLCPP_LOG_STREAM_IMPL_(::rclcpp::Logger::Level::Warn, logger, s)
#define RCLCPP_ERROR_STREAM(logger, s) \
  RCLCPP_LOG_STREAM_IMPL_(::rclcpp::Logger::Level::Error, logger, s)
#define RCLCPP_FATAL_STREAM(logger, s) \
  RCLCPP_LOG_STREAM_IMPL_(::rclcpp::Logger::Level::Fatal, logger, s)
