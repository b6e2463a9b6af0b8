// The process-wide logger of the lidar obstacle detector and of libtrelvon.
//
// `corvanta::Logger::Instance()` owns one spdlog logger named "spdlog" whose sinks and level are
// chosen once, from SPDLOG_STDOUT, SPDLOG_SYSTEMD and SPDLOG_LEVEL, on first use. Both the
// program and the shared library compile this header; the instance is a function-local static of
// an inline function with default visibility, which the toolchain emits as a unique global
// symbol, so the dynamic loader binds every copy to one object and the whole process shares one
// logger, one level and one message counter.
//
// The macros LOG_DEBUG, LOG_INFO and LOG_ERROR take an fmt format string checked at compile time.
// Each message is prefixed with a three-column sequence number (0..127, wrapping) and its level
// tag, and is handed to spdlog as finished text with its source file, line and function.
#pragma once

#include <spdlog/logger.h>
#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/sinks/systemd_sink.h>
#include <spdlog/spdlog.h>

#include <fmt/format.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace corvanta {

class __attribute__((visibility("default"))) Logger {
 public:
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // The one logger of the process, built on the first call from the environment.
  static Logger& Instance() {
    static Logger instance("spdlog");
    return instance;
  }

  // Empty only if building the backend failed; callers copy it so that it outlives the call.
  std::shared_ptr<spdlog::logger> logger_;
  // Sequence number printed in front of counted messages; a visual aid, updated without ordering.
  std::atomic<std::uint8_t> counter_{0};
  // spdlog level number chosen at start-up (0 trace ... 6 off).
  int level_{spdlog::level::info};

 private:
  explicit Logger(const std::string& name) {
    try {
      std::vector<spdlog::sink_ptr> sinks;
      if (ReadSwitch("SPDLOG_STDOUT", true)) {
        sinks.push_back(std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>());
      }
      if (ReadSwitch("SPDLOG_SYSTEMD", false)) {
        sinks.push_back(std::make_shared<spdlog::sinks::systemd_sink_mt>());
      }
      logger_ = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
      level_ = ReadLevel();
      logger_->set_level(static_cast<spdlog::level::level_enum>(level_));
      logger_->set_pattern("%v", spdlog::pattern_time_type::local);
    } catch (const spdlog::spdlog_ex&) {
      // A logger that cannot be built must not take the process down; messages are dropped.
    }
  }

  // The notices go straight to stdout: the logger they describe does not exist yet.
  static bool ReadSwitch(const char* variable, bool fallback) {
    const char* value = std::getenv(variable);
    const char* fallback_text = fallback ? "true" : "false";
    if (value == nullptr) {
      std::printf("environment variable %s is not set, and set %s\n", variable, fallback_text);
      return fallback;
    }
    if (std::strcmp(value, "true") == 0) {
      return true;
    }
    if (std::strcmp(value, "false") == 0) {
      return false;
    }
    std::printf("environment variable %s is invalid, and set %s\n", variable, fallback_text);
    return fallback;
  }

  static int ReadLevel() {
    static constexpr std::array<std::pair<const char*, int>, 6> kLevels{
        {{"trace", 0}, {"debug", 1}, {"info", 2}, {"warning", 3}, {"error", 4}, {"critical", 5}}};
    const char* value = std::getenv("SPDLOG_LEVEL");
    if (value == nullptr) {
      std::printf("environment variable SPDLOG_LEVEL is not set, and set default level\n");
      return spdlog::level::info;
    }
    for (const auto& [text, level] : kLevels) {
      if (std::strcmp(value, text) == 0) {
        return level;
      }
    }
    std::printf("environment variable SPDLOG_LEVEL is invalid, and set default level\n");
    return spdlog::level::info;
  }
};

namespace logging_detail {

// Formats, numbers and hands one message to the backend. The message is formatted before the
// level check so that a suppressed message costs the same as a printed one, as documented.
template <typename... Args>
void Write(spdlog::level::level_enum level, const char* tag, spdlog::source_loc location,
           fmt::format_string<Args...> format, Args&&... args) {
  Logger& instance = Logger::Instance();
  std::shared_ptr<spdlog::logger> backend = instance.logger_;
  std::string text = fmt::format(format, std::forward<Args>(args)...);
  std::uint8_t counter = instance.counter_.load(std::memory_order_relaxed);
  if (instance.level_ <= static_cast<int>(level)) {
    counter =
        static_cast<std::uint8_t>(instance.counter_.fetch_add(1, std::memory_order_relaxed) + 1);
  }
  std::string line = fmt::format("{0:3d} [{1}] ", counter & 0x7f, tag);
  line += text;
  if (backend == nullptr) {
    return;
  }
  backend->log(location, level, spdlog::string_view_t(line));
}

}  // namespace logging_detail
}  // namespace corvanta

#define CORVANTA_LOG_AT(level, tag, ...)                                                        \
  ::corvanta::logging_detail::Write(                                                            \
      level, tag, ::spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)}, \
      __VA_ARGS__)

// <syslog.h>, pulled in by the journal sink, defines LOG_DEBUG and LOG_INFO as priority numbers.
// The sink's code above was already preprocessed with those values, so ours can replace them.
#undef LOG_DEBUG
#undef LOG_INFO
#define LOG_DEBUG(...) CORVANTA_LOG_AT(::spdlog::level::debug, "DEBUG", __VA_ARGS__)
#define LOG_INFO(...) CORVANTA_LOG_AT(::spdlog::level::info, "INFO", __VA_ARGS__)
#define LOG_ERROR(...) CORVANTA_LOG_AT(::spdlog::level::err, "ERROR", __VA_ARGS__)
