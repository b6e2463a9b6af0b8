// Conversion between ROS messages and their CDR bytes, as the middleware puts them on the wire.
#pragma once

#include <cstring>
#include <stdexcept>
#include <vector>

#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>

#include "rclcpp/serialized_message.hpp"
#include "ros2_core/cdr_serialization.hpp"

namespace rclcpp {

// Works on any message through its introspection type support. serialize_message throws
// std::invalid_argument for a null argument or a value the wire cannot carry;
// deserialize_message throws ros2_core::CdrError (a std::runtime_error) naming the field and byte
// offset for bytes that are not a valid sample of the type.
class SerializationBase {
 public:
  explicit SerializationBase(const rosidl_message_type_support_t* type_support)
      : members_(&ros2_core::introspection_members(type_support)) {}
  virtual ~SerializationBase() = default;

  void serialize_message(const void* ros_message, SerializedMessage* serialized_message) const {
    if (ros_message == nullptr || serialized_message == nullptr) {
      throw std::invalid_argument("serialize_message: null message or serialized message");
    }
    const std::vector<std::uint8_t> bytes = ros2_core::serialize(ros_message, *members_);
    serialized_message->reserve(bytes.size());
    if (!bytes.empty()) {
      std::memcpy(serialized_message->get_rcl_serialized_message().buffer, bytes.data(),
                  bytes.size());
    }
    serialized_message->get_rcl_serialized_message().buffer_length = bytes.size();
  }

  void deserialize_message(const SerializedMessage* serialized_message, void* ros_message) const {
    if (ros_message == nullptr || serialized_message == nullptr) {
      throw std::invalid_argument("deserialize_message: null message or serialized message");
    }
    const rcl_serialized_message_t& raw = serialized_message->get_rcl_serialized_message();
    ros2_core::deserialize(raw.buffer, raw.buffer_length, ros_message, *members_);
  }

 private:
  const ros2_core::MessageMembers* members_;
};

template <typename MessageT>
class Serialization : public SerializationBase {
 public:
  Serialization()
      : SerializationBase(
            rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MessageT>()) {}
};

}  // namespace rclcpp
