// ros2_cli: the everyday `ros2` verbs for graphs that run on this tree's own ROS 2 layer.
#include <iostream>
#include <string>
#include <vector>

#include "ros2cli/cli.hpp"

int main(int argc, char** argv) {
  // Before anything starts a thread, so that only this thread ever takes SIGINT.
  ros2cli::InterruptSignal stop;
  const std::vector<std::string> args(argv + 1, argv + argc);
  return ros2cli::runCli(args, std::cout, std::cerr, stop);
}
