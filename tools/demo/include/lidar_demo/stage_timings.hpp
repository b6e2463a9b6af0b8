// Per-stage timings collected from the node's timing log lines ("remove ground time: 1.2 ms.").
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>

namespace lidar_demo {

struct StageStatistics {
  std::string stage;
  std::size_t samples{0};
  double median_ms{0.0};
  double p95_ms{0.0};
};

// Thread-safe collection of stage durations, in first-seen order of the stages.
class StageTimings {
 public:
  // Takes one log line; lines that are not a timing line are ignored. Returns whether it was one.
  bool addLine(const std::string& line);
  void add(const std::string& stage, double milliseconds);
  std::vector<StageStatistics> statistics() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> order_;
  std::map<std::string, std::vector<double>> samples_;
};

// Reads "<stage> time: <number> ms." or "<stage> time: <number>ms." anywhere in `line` (after any
// sequence-number and level prefix). Returns false for any other line.
bool parseTimingLine(const std::string& line, std::string& stage, double& milliseconds);

// An spdlog sink that hands every formatted message to a StageTimings.
class StageTimingSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit StageTimingSink(StageTimings& timings) : timings_(timings) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override;
  void flush_() override {}

 private:
  StageTimings& timings_;
};

}  // namespace lidar_demo
