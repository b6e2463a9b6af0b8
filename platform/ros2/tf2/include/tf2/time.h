// Time types of tf2: std::chrono with nanosecond resolution.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>

namespace tf2 {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::time_point<std::chrono::system_clock, Duration>;
using IDuration = std::chrono::duration<int, std::nano>;

// The zero time point means "the latest available data" in lookups.
static const TimePoint TimePointZero = TimePoint(IDuration::zero());

// Seconds to a duration, rounded to the nearest nanosecond.
Duration durationFromSec(double t_sec);
TimePoint timeFromSec(double t_sec);
double durationToSec(const tf2::Duration& input);
double timeToSec(const TimePoint& timepoint);
// "%.6f" seconds, as tf2 prints times in its messages.
std::string displayTimePoint(const TimePoint& stamp);

}  // namespace tf2
