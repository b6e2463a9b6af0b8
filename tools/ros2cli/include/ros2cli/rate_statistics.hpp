// The figures `ros2 topic hz` prints, from the arrival times of messages.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace ros2cli {

struct RateFigures {
  double average_rate{0.0};  // 1 / mean interval, Hz
  double min_interval{0.0};  // seconds
  double max_interval{0.0};
  double std_dev{0.0};    // of the intervals, seconds (population)
  std::size_t window{0};  // messages the figures come from
};

// Keeps the intervals between the last `window` + 1 arrivals. Not thread-safe.
class RateStatistics {
 public:
  // Throws std::invalid_argument for a window under 1.
  explicit RateStatistics(std::size_t window);

  // `seconds` is the arrival time on a monotonic clock.
  void add(double seconds);
  // True once per new arrival since the last figures() call, as hz prints only when messages came.
  bool has_new() const { return new_since_report_; }
  // nullopt until two messages have arrived.
  std::optional<RateFigures> figures();

 private:
  const std::size_t window_;
  std::optional<double> last_;
  std::deque<double> intervals_;
  bool new_since_report_{false};
};

// "average rate: 10.000\n\tmin: 0.100s max: 0.100s std dev: 0.00000s window: 10".
std::string formatRate(const RateFigures& figures);

}  // namespace ros2cli
