// Drives the logger through one scenario named on the command line; logger_test reads its output.
#include <cstdio>
#include <cstring>
#include <string>

#include <spdlog/sinks/base_sink.h>

#include <memory>
#include <mutex>

#include "logger.hpp"

extern "C" void probe_library_log(int value);

namespace {
// Prints the source location spdlog received, which the "%v" console pattern hides.
class LocationSink : public spdlog::sinks::base_sink<std::mutex> {
 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    std::printf("location: %s:%d %s level %d\n", msg.source.filename, msg.source.line,
                msg.source.funcname, static_cast<int>(msg.level));
  }
  void flush_() override {}
};
}  // namespace

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "basic";
  if (scenario == "basic") {
    LOG_DEBUG("debug {}", 1);
    LOG_INFO("info {}", 2);
    LOG_ERROR("error {}", 3);
  } else if (scenario == "shared") {
    LOG_INFO("from program {}", 1);
    probe_library_log(2);
    LOG_INFO("from program {}", 3);
    std::printf("same instance: %d\n",
                static_cast<int>(corvanta::Logger::Instance().counter_.load()));
  } else if (scenario == "wrap") {
    for (int i = 1; i <= 300; ++i) {
      LOG_INFO("message {}", i);
    }
    std::printf("stored counter: %d\n",
                static_cast<int>(corvanta::Logger::Instance().counter_.load()));
  } else if (scenario == "braces") {
    LOG_INFO("{}", std::string("literal {} and {{}} and {0}"));
  } else if (scenario == "location") {
    auto backend = corvanta::Logger::Instance().logger_;
    std::printf("sinks: %zu\n", backend->sinks().size());
    backend->sinks().push_back(std::make_shared<LocationSink>());
    LOG_INFO("where");
  }
  std::fflush(stdout);
  return 0;
}
