// Helpers for the CDR tests: every generated message type by name, an owning box for a message
// of a type known only by its introspection description, a deterministic filler and a canonical
// JSON text of a message that the npm oracle script prints identically.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>

#include "ros2_core/cdr_serialization.hpp"

namespace cdr_test {

using ros2_core::MessageMembers;

struct MessageType {
  std::string name;  // "pkg/msg/Type"
  const MessageMembers* members;
};

// Every message type the tree generates (platform/interfaces/), in a fixed order.
const std::vector<MessageType>& all_message_types();
const MessageMembers& members_of(const std::string& name);

// The introspection description of a generated C++ message type.
template <typename T>
const MessageMembers& members_of() {
  return ros2_core::introspection_members(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>());
}

// Owns one initialised message object of a type known by its description; finalises it on
// destruction. Not copyable.
class MessageBox {
 public:
  explicit MessageBox(const MessageMembers& members);
  ~MessageBox();
  MessageBox(const MessageBox&) = delete;
  MessageBox& operator=(const MessageBox&) = delete;

  void* get() { return storage_.get(); }
  const void* get() const { return storage_.get(); }
  const MessageMembers& members() const { return *members_; }

 private:
  const MessageMembers* members_;
  std::unique_ptr<std::max_align_t[]> storage_;
};

// Fills every member with values drawn from `seed`: sequences of 0 to 3 elements (byte
// sequences longer), bounded ones within their bound, printable strings with quotes, backslashes
// and newlines, every bit pattern of integers, finite floats including -0.
void fill(void* message, const MessageMembers& members, std::uint32_t seed);

// Compact JSON of the message, fields in declaration order: integers as decimal strings, floats
// as "d:" and the 16 hex digits of the value as a double, strings and bools as JSON has them.
std::string canonical_json(const void* message, const MessageMembers& members);

std::string to_hex(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> from_hex(const std::string& hex);

}  // namespace cdr_test
