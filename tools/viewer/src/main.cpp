// lidar_birdseye: bird's-eye pictures (PNG) and animated strips (GIF) of a simulator data set.
#include <iostream>
#include <string>
#include <vector>

#include "birdseye/birdseye_cli.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return birdseye::runBirdseye(args, std::cout, std::cerr);
}
