// Wire facts about one introspected member shared by the CDR serializer and deserializer.
#pragma once

#include <cstddef>
#include <string>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>
#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>

namespace ros2_core {

// Throws std::invalid_argument naming `member` and why it has no CDR primitive size.
[[noreturn]] void throw_not_primitive(
    const rosidl_typesupport_introspection_cpp::MessageMember& member);

// Bytes one element of a fixed-size primitive takes on the wire (also its alignment); 0 for
// strings, wstrings and messages. Throws std::invalid_argument for long double and unknown type
// ids, naming the member. Inline: it runs once per primitive field.
inline std::size_t cdr_primitive_size(
    const rosidl_typesupport_introspection_cpp::MessageMember& member) {
  namespace ts = rosidl_typesupport_introspection_cpp;
  switch (member.type_id_) {
    case ts::ROS_TYPE_BOOLEAN:
    case ts::ROS_TYPE_OCTET:
    case ts::ROS_TYPE_UINT8:
    case ts::ROS_TYPE_INT8:
    case ts::ROS_TYPE_CHAR:
      return 1;
    case ts::ROS_TYPE_WCHAR:
    case ts::ROS_TYPE_UINT16:
    case ts::ROS_TYPE_INT16:
      return 2;
    case ts::ROS_TYPE_FLOAT:
    case ts::ROS_TYPE_UINT32:
    case ts::ROS_TYPE_INT32:
      return 4;
    case ts::ROS_TYPE_DOUBLE:
    case ts::ROS_TYPE_UINT64:
    case ts::ROS_TYPE_INT64:
      return 8;
    case ts::ROS_TYPE_STRING:
    case ts::ROS_TYPE_WSTRING:
    case ts::ROS_TYPE_MESSAGE:
      return 0;
    default:
      throw_not_primitive(member);
  }
}

// A lower bound of the wire size of one element of `member` (one primitive, one string, one
// nested message), used to reject sequence lengths larger than the bytes left could hold.
std::size_t cdr_min_element_size(const rosidl_typesupport_introspection_cpp::MessageMember& member);

// True when `member` is a sequence (bounded or not) rather than a single value or fixed array.
inline bool is_sequence(const rosidl_typesupport_introspection_cpp::MessageMember& member) {
  return member.is_array_ && (member.array_size_ == 0 || member.is_upper_bound_);
}

// The nested description of a message-typed member.
const rosidl_typesupport_introspection_cpp::MessageMembers& nested_members(
    const rosidl_typesupport_introspection_cpp::MessageMember& member);

// "pkg::msg::Type", for error texts.
std::string message_type_name(const rosidl_typesupport_introspection_cpp::MessageMembers& members);

}  // namespace ros2_core
