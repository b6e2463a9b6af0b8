// Entry point of lidar_obstacle_detector.
#include "logger.hpp"

int main() {
  LOG_INFO("lidar_obstacle_detector started with its defaults");
  LOG_INFO("node finishied");
  return 0;
}
