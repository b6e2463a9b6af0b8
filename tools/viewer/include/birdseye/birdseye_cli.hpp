// The command line of lidar_birdseye, as a function so that tests run it without a process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace birdseye {

// Runs lidar_birdseye with `args` (without the program name): writes PNGs of chosen frames and/or
// a GIF of a range of a simulator data set. Reports written files on `out` and every error, one
// line naming the bad value or file, on `err`. Returns 0 on success, 1 when reading or writing
// failed, 2 for a usage error. Never throws.
int runBirdseye(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The --help text.
const char* birdseyeUsage();

}  // namespace birdseye
