#include "lidar_demo/stage_timings.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace lidar_demo {

bool parseTimingLine(const std::string& line, std::string& stage, double& milliseconds) {
  static const std::string kMarker = " time: ";
  const std::size_t marker = line.rfind(kMarker);
  if (marker == std::string::npos) {
    return false;
  }
  const char* number = line.c_str() + marker + kMarker.size();
  char* end = nullptr;
  const double value = std::strtod(number, &end);
  if (end == number || !std::isfinite(value)) {
    return false;
  }
  std::string tail(end);
  tail.erase(std::remove(tail.begin(), tail.end(), ' '), tail.end());
  if (tail.rfind("ms", 0) != 0) {
    return false;
  }
  // The stage name is the lower-case words before the marker; a "  7 [info] " prefix is not.
  std::size_t begin = marker;
  while (begin > 0) {
    const char c = line[begin - 1];
    if (!(std::islower(static_cast<unsigned char>(c)) || c == ' ' || c == '_')) {
      break;
    }
    --begin;
  }
  while (begin < marker && line[begin] == ' ') {
    ++begin;
  }
  if (begin == marker) {
    return false;
  }
  stage = line.substr(begin, marker - begin);
  milliseconds = value;
  return true;
}

bool StageTimings::addLine(const std::string& line) {
  std::string stage;
  double milliseconds = 0.0;
  if (!parseTimingLine(line, stage, milliseconds)) {
    return false;
  }
  add(stage, milliseconds);
  return true;
}

void StageTimings::add(const std::string& stage, double milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& samples = samples_[stage];
  if (samples.empty()) {
    order_.push_back(stage);
  }
  samples.push_back(milliseconds);
}

std::vector<StageStatistics> StageTimings::statistics() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<StageStatistics> result;
  for (const auto& stage : order_) {
    std::vector<double> values = samples_.at(stage);
    std::sort(values.begin(), values.end());
    // Nearest-rank percentiles.
    auto rank = [&](double q) {
      const auto index =
          static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
      return values[std::min(values.size(), std::max<std::size_t>(index, 1)) - 1];
    };
    result.push_back({stage, values.size(), rank(0.5), rank(0.95)});
  }
  return result;
}

void StageTimingSink::sink_it_(const spdlog::details::log_msg& message) {
  timings_.addLine(std::string(message.payload.data(), message.payload.size()));
}

}  // namespace lidar_demo
