// What every benchmark program of this tree does before it measures: answer --help, and find
// the package's share folder in the build tree without the user setting anything.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {

// Prints `usage` and returns true when the command line asks for help.
inline bool helpRequested(int argc, char** argv, const char* usage) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage, stdout);
      return true;
    }
  }
  return false;
}

// Puts `prefix` (the build tree's ament prefix) first on AMENT_PREFIX_PATH, so that the node
// finds its configuration files through the ament index as an installed package would.
inline void useBuildTreePackagePrefix(const char* prefix) {
  const char* current = std::getenv("AMENT_PREFIX_PATH");
  std::string value = prefix;
  if (current != nullptr && *current != '\0') {
    value += ":";
    value += current;
  }
  setenv("AMENT_PREFIX_PATH", value.c_str(), 1);
}

}  // namespace bench
