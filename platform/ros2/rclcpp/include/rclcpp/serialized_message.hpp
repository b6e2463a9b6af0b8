// A serialized message: the CDR bytes of one sample (with their 4-byte encapsulation header), in a
// buffer owned by this object.
#pragma once

#include <cstddef>

#include "rcl/types.h"

namespace rclcpp {

class SerializedMessage {
 public:
  SerializedMessage();
  explicit SerializedMessage(std::size_t initial_capacity);
  // Copies the bytes in use of `other`.
  explicit SerializedMessage(const rcl_serialized_message_t& other);
  SerializedMessage(const SerializedMessage& other);
  SerializedMessage(SerializedMessage&& other) noexcept;
  SerializedMessage& operator=(const SerializedMessage& other);
  SerializedMessage& operator=(SerializedMessage&& other) noexcept;
  ~SerializedMessage();

  // The buffer itself: `buffer_length` says how many of its bytes are in use.
  rcl_serialized_message_t& get_rcl_serialized_message() { return message_; }
  const rcl_serialized_message_t& get_rcl_serialized_message() const { return message_; }

  std::size_t size() const { return message_.buffer_length; }
  std::size_t capacity() const { return message_.buffer_capacity; }
  // Grows (or shrinks) the buffer to `capacity` bytes, keeping the bytes in use that fit.
  void reserve(std::size_t capacity);

 private:
  void release();
  rcl_serialized_message_t message_;
};

}  // namespace rclcpp
