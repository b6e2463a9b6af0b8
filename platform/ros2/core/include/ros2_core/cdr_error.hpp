// The error a CDR sample that cannot be decoded raises.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

namespace ros2_core {

// Thrown by `deserialize` (and `CdrReader`) when the bytes are not a valid sample of the
// expected type: truncated, an unknown encapsulation, a length larger than the bytes left, a
// string without its terminator, a bounded field over its bound. `what()` names the problem, the
// field (as a dotted path from the message type) and the byte offset, counted from the first byte
// of the encapsulation header.
class CdrError : public std::runtime_error {
 public:
  CdrError(std::string problem, std::string field, std::size_t offset)
      : std::runtime_error(compose(problem, field, offset)),
        problem_{std::move(problem)},
        field_{std::move(field)},
        offset_{offset} {}

  const std::string& problem() const noexcept { return problem_; }
  const std::string& field() const noexcept { return field_; }
  std::size_t offset() const noexcept { return offset_; }

 private:
  static std::string compose(const std::string& problem, const std::string& field,
                             std::size_t offset) {
    std::string text = problem;
    if (!field.empty()) {
      text += " in field '" + field + "'";
    }
    return text + " at byte offset " + std::to_string(offset);
  }

  std::string problem_;
  std::string field_;
  std::size_t offset_{};
};

}  // namespace ros2_core
