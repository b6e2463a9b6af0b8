#include "ros2cli/rate_statistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace ros2cli {

RateStatistics::RateStatistics(std::size_t window) : window_{window} {
  if (window < 1) {
    throw std::invalid_argument("window must be at least 1, got " + std::to_string(window));
  }
}

void RateStatistics::add(double seconds) {
  if (last_) {
    intervals_.push_back(seconds - *last_);
    if (intervals_.size() > window_) {
      intervals_.pop_front();
    }
  }
  last_ = seconds;
  new_since_report_ = true;
}

std::optional<RateFigures> RateStatistics::figures() {
  new_since_report_ = false;
  if (intervals_.empty()) {
    return std::nullopt;
  }
  double sum = 0.0;
  for (double interval : intervals_) {
    sum += interval;
  }
  const double n = static_cast<double>(intervals_.size());
  const double mean = sum / n;
  double squares = 0.0;
  for (double interval : intervals_) {
    squares += (interval - mean) * (interval - mean);
  }
  RateFigures figures;
  figures.average_rate = mean > 0.0 ? 1.0 / mean : 0.0;
  figures.min_interval = *std::min_element(intervals_.begin(), intervals_.end());
  figures.max_interval = *std::max_element(intervals_.begin(), intervals_.end());
  figures.std_dev = std::sqrt(squares / n);
  figures.window = intervals_.size() + 1;
  return figures;
}

std::string formatRate(const RateFigures& figures) {
  char text[256];
  std::snprintf(text, sizeof(text),
                "average rate: %.3f\n\tmin: %.3fs max: %.3fs std dev: %.5fs window: %zu",
                figures.average_rate, figures.min_interval, figures.max_interval, figures.std_dev,
                figures.window);
  return text;
}

}  // namespace ros2cli
