// A command line that does not have the program's shape (exit status 2), as opposed to a
// well-formed one with a bad value (std::invalid_argument, exit status 1).
#pragma once

#include <stdexcept>
#include <string>

namespace static_transform_publisher {

class UsageError : public std::invalid_argument {
 public:
  explicit UsageError(const std::string& what) : std::invalid_argument(what) {}
};

}  // namespace static_transform_publisher
