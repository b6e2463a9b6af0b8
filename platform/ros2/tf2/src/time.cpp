#include "tf2/time.h"

#include <iomanip>
#include <sstream>

namespace tf2 {

Duration durationFromSec(double t_sec) {
  int32_t sec = static_cast<int32_t>(std::floor(t_sec));
  int32_t nsec = static_cast<int32_t>(std::round((t_sec - sec) * 1e9));
  // Rounding may carry a full second.
  sec += nsec / 1000000000;
  nsec %= 1000000000;
  return std::chrono::seconds(sec) + std::chrono::nanoseconds(nsec);
}

TimePoint timeFromSec(double t_sec) {
  return TimePoint(durationFromSec(t_sec));
}

double durationToSec(const tf2::Duration& input) {
  return std::chrono::duration<double>(input).count();
}

double timeToSec(const TimePoint& timepoint) {
  return durationToSec(timepoint.time_since_epoch());
}

std::string displayTimePoint(const TimePoint& stamp) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(6) << timeToSec(stamp);
  return text.str();
}

}  // namespace tf2
