#include <string>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "ros2_core/cdr_member_layout.hpp"
#include "ros2_core/cdr_reader.hpp"
#include "ros2_core/cdr_serialization.hpp"

namespace ros2_core {

namespace ts = rosidl_typesupport_introspection_cpp;

namespace {

// Fills one message from a CdrReader through its introspection description. Every length is
// checked against the bytes left before the member is resized, so a lying sample cannot make it
// allocate more than a small multiple of the sample's own size.
class Deserializer {
 public:
  explicit Deserializer(CdrReader& reader) : reader_{reader} {}

  void message(void* object, const MessageMembers& members) {
    auto* base = static_cast<std::uint8_t*>(object);
    for (std::uint32_t i = 0; i < members.member_count_; ++i) {
      const MessageMember& member = members.members_[i];
      field(base + member.offset_, member);
    }
  }

 private:
  void field(void* field, const MessageMember& member) {
    if (!member.is_array_) {
      value(field, member);
      return;
    }
    std::size_t count = member.array_size_;
    if (is_sequence(member)) {
      reader_.align(4, member.name_);
      const std::size_t length_offset = reader_.offset();
      count = reader_.readLength(cdr_min_element_size(member), member.name_);
      if (member.is_upper_bound_ && count > member.array_size_) {
        throw CdrError("bounded sequence of at most " + std::to_string(member.array_size_) +
                           " elements has length " + std::to_string(count),
                       member.name_, length_offset);
      }
      member.resize_function(field, count);
    }
    if (count == 0) {
      return;
    }
    if (member.type_id_ == ts::ROS_TYPE_BOOLEAN) {
      reader_.require(count, member.name_, "the elements");
      for (std::size_t i = 0; i < count; ++i) {
        const bool element = reader_.read<std::uint8_t>(member.name_) != 0;
        member.assign_function(field, i, &element);
      }
      return;
    }
    const std::size_t size = cdr_primitive_size(member);
    if (size > 0) {
      // Primitive elements are contiguous in std::array and std::vector: one block.
      reader_.readArray(member.get_function(field, 0), count, size, member.name_);
      return;
    }
    for (std::size_t i = 0; i < count; ++i) {
      try {
        value(member.get_function(field, i), member);
      } catch (const CdrError& error) {
        const std::string element = std::string(member.name_) + "[" + std::to_string(i) + "]";
        // A nested message's error names a field inside the element; a string's names the member.
        if (member.type_id_ == ts::ROS_TYPE_MESSAGE) {
          throw within(error, element);
        }
        throw CdrError(error.problem(), element, error.offset());
      }
    }
  }

  void value(void* value, const MessageMember& member) {
    switch (member.type_id_) {
      case ts::ROS_TYPE_BOOLEAN:
        *static_cast<bool*>(value) = reader_.read<std::uint8_t>(member.name_) != 0;
        return;
      case ts::ROS_TYPE_STRING: {
        reader_.align(4, member.name_);
        const std::size_t start = reader_.offset();
        std::string text = reader_.readString(member.name_);
        check_string_bound(text.size(), member, start);
        *static_cast<std::string*>(value) = std::move(text);
        return;
      }
      case ts::ROS_TYPE_WSTRING:
        *static_cast<std::u16string*>(value) = wstring(member);
        return;
      case ts::ROS_TYPE_MESSAGE:
        if (member.is_array_) {
          message(value, nested_members(member));  // the caller names the element
          return;
        }
        try {
          message(value, nested_members(member));
        } catch (const CdrError& error) {
          throw within(error, member.name_);
        }
        return;
      default:
        reader_.readArray(value, 1, cdr_primitive_size(member), member.name_);
    }
  }

  // A wstring as rmw_cyclonedds_cpp writes it: uint32 count of UTF-16 code units, no terminator,
  // each unit in 4 bytes.
  std::u16string wstring(const MessageMember& member) {
    reader_.align(4, member.name_);
    const std::size_t start = reader_.offset();
    const std::uint32_t count = reader_.readLength(4, member.name_);
    check_string_bound(count, member, start);
    std::u16string text(count, u'\0');
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t unit_offset = reader_.offset();
      const std::uint32_t unit = reader_.read<std::uint32_t>(member.name_);
      if (unit > 0xFFFF) {
        throw CdrError("wstring character " + std::to_string(unit) + " is not a UTF-16 code unit",
                       member.name_, unit_offset);
      }
      text[i] = static_cast<char16_t>(unit);
    }
    return text;
  }

  void check_string_bound(std::size_t length, const MessageMember& member,
                          std::size_t offset) const {
    if (member.string_upper_bound_ > 0 && length > member.string_upper_bound_) {
      throw CdrError("string of " + std::to_string(length) + " characters is over its bound of " +
                         std::to_string(member.string_upper_bound_),
                     member.name_, offset);
    }
  }

  static CdrError within(const CdrError& inner, const std::string& outer) {
    const std::string path = inner.field().empty() ? outer : outer + "." + inner.field();
    return CdrError(inner.problem(), path, inner.offset());
  }

  CdrReader& reader_;
};

}  // namespace

void deserialize(const std::uint8_t* data, std::size_t size, void* message,
                 const MessageMembers& members) {
  CdrReader reader(data, size);
  try {
    Deserializer(reader).message(message, members);
  } catch (const CdrError& error) {
    throw CdrError(message_type_name(members) + ": " + error.problem(), error.field(),
                   error.offset());
  }
}

void deserialize(const std::vector<std::uint8_t>& bytes, void* message,
                 const MessageMembers& members) {
  deserialize(bytes.data(), bytes.size(), message, members);
}

}  // namespace ros2_core
