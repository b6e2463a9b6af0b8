#include "ros2_core/cdr_member_layout.hpp"

#include <stdexcept>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "ros2_core/cdr_serialization.hpp"

namespace ros2_core {

namespace ts = rosidl_typesupport_introspection_cpp;

void throw_not_primitive(const MessageMember& member) {
  if (member.type_id_ == ts::ROS_TYPE_LONG_DOUBLE) {
    throw std::invalid_argument(std::string("member '") + member.name_ +
                                "' is a long double, which has no portable CDR form");
  }
  throw std::invalid_argument(std::string("member '") + member.name_ + "' has unknown type id " +
                              std::to_string(member.type_id_));
}

std::size_t cdr_min_element_size(const MessageMember& member) {
  if (member.type_id_ == ts::ROS_TYPE_STRING || member.type_id_ == ts::ROS_TYPE_WSTRING) {
    return 4;  // the length; an empty string may carry nothing else
  }
  if (member.type_id_ != ts::ROS_TYPE_MESSAGE) {
    return cdr_primitive_size(member);
  }
  const MessageMembers& nested = nested_members(member);
  std::size_t total = 0;
  for (std::uint32_t i = 0; i < nested.member_count_; ++i) {
    const MessageMember& inner = nested.members_[i];
    if (is_sequence(inner)) {
      total += 4;
    } else if (inner.is_array_) {
      total += inner.array_size_ * cdr_min_element_size(inner);
    } else {
      total += cdr_min_element_size(inner);
    }
  }
  // Every message has at least one member on the wire; never report 0.
  return total == 0 ? 1 : total;
}

const MessageMembers& nested_members(const MessageMember& member) {
  return introspection_members(member.members_);
}

std::string message_type_name(const MessageMembers& members) {
  return std::string(members.message_namespace_) + "::" + members.message_name_;
}

}  // namespace ros2_core
