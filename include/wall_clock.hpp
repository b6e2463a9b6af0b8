// The wall clock the node's stage timings are taken with.
#pragma once

#include <chrono>

namespace lidar_perception {

using WallClock = std::chrono::system_clock;

// Wall-clock milliseconds since `start` (nanosecond difference / 1e9 * 1000), as every stage
// logs them.
inline double elapsedMs(WallClock::time_point start) {
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(WallClock::now() - start).count();
  return static_cast<double>(ns) / 1e9 * 1000.0;
}

}  // namespace lidar_perception
