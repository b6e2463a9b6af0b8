// The ros2_cli program without its process: verbs chosen from the arguments.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ros2cli/stop_signal.hpp"

namespace ros2cli {

// Runs `args` (without the program name): "node list", "topic echo /x", ... Returns the exit
// status: 0 success, 1 errors, 2 usage errors (usage printed to `err`). `--help` at any level
// prints that level's usage to `out`.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           StopSignal& stop);

}  // namespace ros2cli
