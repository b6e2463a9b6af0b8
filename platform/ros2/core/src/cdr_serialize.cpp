#include <cstring>
#include <stdexcept>
#include <string>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>
#include <rosidl_typesupport_introspection_cpp/identifier.hpp>

#include "ros2_core/cdr_member_layout.hpp"
#include "ros2_core/cdr_serialization.hpp"
#include "ros2_core/cdr_writer.hpp"

namespace ros2_core {

namespace ts = rosidl_typesupport_introspection_cpp;

namespace {

// Walks one message through its introspection description, appending to a CdrWriter.
class Serializer {
 public:
  explicit Serializer(CdrWriter& writer) : writer_{writer} {}

  void message(const void* object, const MessageMembers& members) {
    const auto* base = static_cast<const std::uint8_t*>(object);
    for (std::uint32_t i = 0; i < members.member_count_; ++i) {
      const MessageMember& member = members.members_[i];
      field(base + member.offset_, member, members);
    }
  }

 private:
  void field(const void* field, const MessageMember& member, const MessageMembers& owner) {
    if (!member.is_array_) {
      value(field, member, owner);
      return;
    }
    std::size_t count = member.array_size_;
    if (is_sequence(member)) {
      count = member.size_function(field);
      if (member.is_upper_bound_ && count > member.array_size_) {
        throw std::invalid_argument(message_type_name(owner) + " field '" + member.name_ +
                                    "' holds " + std::to_string(count) +
                                    " elements, over its bound of " +
                                    std::to_string(member.array_size_));
      }
      writer_.writeLength(count);
    }
    if (count == 0) {
      return;
    }
    if (member.type_id_ == ts::ROS_TYPE_BOOLEAN) {
      // std::vector<bool> has no contiguous storage: copy each element out.
      for (std::size_t i = 0; i < count; ++i) {
        bool element = false;
        member.fetch_function(field, i, &element);
        writer_.write<std::uint8_t>(element ? 1 : 0);
      }
      return;
    }
    const std::size_t size = cdr_primitive_size(member);
    if (size > 0) {
      // Primitive elements are contiguous in std::array and std::vector: one block.
      writer_.writeArray(member.get_const_function(field, 0), count, size);
      return;
    }
    for (std::size_t i = 0; i < count; ++i) {
      value(member.get_const_function(field, i), member, owner);
    }
  }

  void value(const void* value, const MessageMember& member, const MessageMembers& owner) {
    switch (member.type_id_) {
      case ts::ROS_TYPE_BOOLEAN:
        writer_.write<std::uint8_t>(*static_cast<const bool*>(value) ? 1 : 0);
        return;
      case ts::ROS_TYPE_STRING: {
        const auto& text = *static_cast<const std::string*>(value);
        check_string_bound(text.size(), member, owner);
        writer_.writeString(text);
        return;
      }
      case ts::ROS_TYPE_WSTRING: {
        const auto& text = *static_cast<const std::u16string*>(value);
        check_string_bound(text.size(), member, owner);
        writer_.writeLength(text.size());
        for (const char16_t unit : text) {
          writer_.write(static_cast<std::uint32_t>(unit));
        }
        return;
      }
      case ts::ROS_TYPE_MESSAGE:
        message(value, nested_members(member));
        return;
      default: {
        writer_.appendAligned(value, cdr_primitive_size(member));
      }
    }
  }

  static void check_string_bound(std::size_t length, const MessageMember& member,
                                 const MessageMembers& owner) {
    if (member.string_upper_bound_ > 0 && length > member.string_upper_bound_) {
      throw std::invalid_argument(message_type_name(owner) + " field '" + member.name_ +
                                  "' holds a string of " + std::to_string(length) +
                                  " characters, over its bound of " +
                                  std::to_string(member.string_upper_bound_));
    }
  }

  CdrWriter& writer_;
};

}  // namespace

const MessageMembers& introspection_members(const rosidl_message_type_support_t* handle) {
  if (handle == nullptr) {
    throw std::invalid_argument("null message type support handle");
  }
  const char* identifier = ts::typesupport_identifier;
  if (handle->typesupport_identifier != identifier &&
      std::strcmp(handle->typesupport_identifier, identifier) != 0) {
    handle = handle->func != nullptr ? handle->func(handle, identifier) : nullptr;
    if (handle == nullptr) {
      throw std::invalid_argument("message type support handle has no C++ introspection");
    }
  }
  return *static_cast<const MessageMembers*>(handle->data);
}

std::vector<std::uint8_t> serialize(const void* message, const MessageMembers& members) {
  CdrWriter writer;
  Serializer(writer).message(message, members);
  return writer.take();
}

}  // namespace ros2_core
