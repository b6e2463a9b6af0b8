// Messages as `ros2 topic echo` prints them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "ros2cli/type_support_registry.hpp"

namespace ros2cli {

// The --truncate-length ros2 topic echo applies unless --full-length is given.
constexpr std::size_t kEchoTruncateLength = 128;

struct YamlPrintOptions {
  // --no-arr: arrays and sequences as "<sequence type: T, length: N>" and the like.
  bool no_arr = false;
  // --truncate-length: longer strings keep this many characters and "...", longer arrays and
  // sequences this many elements and a last element '...'. Unset: everything in full.
  std::optional<std::size_t> truncate_length;
};

// `message` (an object of the type `members` describes) as ros2 topic echo prints it, the closing
// "---" line included: a block mapping of the fields in declaration order, nested messages
// indented two spaces, sequences as block lists at their key's indentation, empty ones as [],
// scalars as PyYAML writes Python values (floats as repr(), float32 widened to double first;
// bytes as one-character strings; integers of every other width as numbers).
std::string messageToYaml(const void* message, const MessageMembers& members,
                          const YamlPrintOptions& options = {});

// The name rosidl gives a member's element type: "double", "uint8", "octet", "boolean",
// "string", "string<N>", "pkg/msg/Type", ...
std::string elementTypeName(const MessageMember& member);

}  // namespace ros2cli
