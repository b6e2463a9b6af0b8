#include "rclcpp/serialized_message.hpp"

#include <cstring>
#include <new>
#include <utility>

namespace rclcpp {

namespace {

rcl_serialized_message_t emptyMessage() {
  rcl_serialized_message_t message;
  message.buffer = nullptr;
  message.buffer_length = 0;
  message.buffer_capacity = 0;
  message.allocator = rcutils_get_default_allocator();
  return message;
}

}  // namespace

SerializedMessage::SerializedMessage() : message_(emptyMessage()) {}

SerializedMessage::SerializedMessage(std::size_t initial_capacity) : message_(emptyMessage()) {
  reserve(initial_capacity);
}

SerializedMessage::SerializedMessage(const rcl_serialized_message_t& other)
    : message_(emptyMessage()) {
  reserve(other.buffer_length);
  if (other.buffer_length > 0) {
    std::memcpy(message_.buffer, other.buffer, other.buffer_length);
  }
  message_.buffer_length = other.buffer_length;
}

SerializedMessage::SerializedMessage(const SerializedMessage& other)
    : SerializedMessage(other.message_) {}

SerializedMessage::SerializedMessage(SerializedMessage&& other) noexcept
    : message_(std::exchange(other.message_, emptyMessage())) {}

SerializedMessage& SerializedMessage::operator=(const SerializedMessage& other) {
  if (this != &other) {
    SerializedMessage copy(other);
    *this = std::move(copy);
  }
  return *this;
}

SerializedMessage& SerializedMessage::operator=(SerializedMessage&& other) noexcept {
  if (this != &other) {
    release();
    message_ = std::exchange(other.message_, emptyMessage());
  }
  return *this;
}

SerializedMessage::~SerializedMessage() {
  release();
}

void SerializedMessage::reserve(std::size_t capacity) {
  if (capacity == message_.buffer_capacity) {
    return;
  }
  if (capacity == 0) {
    release();
    return;
  }
  void* grown = message_.allocator.reallocate(message_.buffer, capacity, message_.allocator.state);
  if (grown == nullptr) {
    throw std::bad_alloc();
  }
  message_.buffer = static_cast<uint8_t*>(grown);
  message_.buffer_capacity = capacity;
  if (message_.buffer_length > capacity) {
    message_.buffer_length = capacity;
  }
}

void SerializedMessage::release() {
  if (message_.buffer != nullptr) {
    message_.allocator.deallocate(message_.buffer, message_.allocator.state);
  }
  message_.buffer = nullptr;
  message_.buffer_length = 0;
  message_.buffer_capacity = 0;
}

}  // namespace rclcpp
