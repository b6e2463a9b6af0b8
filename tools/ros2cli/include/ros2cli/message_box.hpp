// One message object of a type known only by its introspection description.
#pragma once

#include <cstddef>
#include <memory>

#include "ros2cli/type_support_registry.hpp"

namespace ros2cli {

// Owns storage for one message, initialised with every default of its definition and finalised
// on destruction. Holds the type (and so its library) for as long as the object lives. Not
// copyable; share it through makeMessage().
class MessageBox {
 public:
  explicit MessageBox(MessageType type);
  ~MessageBox();
  MessageBox(const MessageBox&) = delete;
  MessageBox& operator=(const MessageBox&) = delete;

  void* get() { return storage_.get(); }
  const void* get() const { return storage_.get(); }
  const MessageMembers& members() const { return *type_.members; }
  const MessageType& type() const { return type_; }

 private:
  MessageType type_;
  std::unique_ptr<std::max_align_t[]> storage_;
};

// A fresh message of `type` as a pointer to the object itself; the last copy finalises it.
std::shared_ptr<void> makeMessage(const MessageType& type);

}  // namespace ros2cli
