// CDR serialization of ROS 2 messages as ROS 2 puts them on the wire, for any message type with a
// C++ introspection type support.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <rosidl_runtime_c/message_type_support_struct.h>
#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>

#include "ros2_core/cdr_error.hpp"

namespace ros2_core {

using rosidl_typesupport_introspection_cpp::MessageMember;
using rosidl_typesupport_introspection_cpp::MessageMembers;

// The introspection description behind a C++ message type support handle: the handle itself when
// it is an introspection handle, else the one it resolves to. Throws std::invalid_argument for a
// null handle or one without C++ introspection.
const MessageMembers& introspection_members(const rosidl_message_type_support_t* handle);

// Encodes `message` (an object of the C++ type `members` describes) as one sample: the 4-byte
// encapsulation header (00 01 00 00, CDR little-endian, on little-endian hosts), then XCDR1:
// every primitive aligned to its size relative to the first byte after the header, bool as one
// byte, strings as uint32 length including the NUL then the bytes and the NUL, wstrings as
// uint32 count of UTF-16 code units then each unit in 4 bytes (as rmw_cyclonedds_cpp writes
// them), sequences and bounded sequences as uint32 count then the elements, fixed arrays without
// a count, nested messages inline. Primitive arrays are copied in one block.
// Throws std::invalid_argument for a bounded sequence or string over its bound and for long
// double members (no portable wire form).
std::vector<std::uint8_t> serialize(const void* message, const MessageMembers& members);

// Decodes one sample into `message` (an initialised object of the C++ type `members` describes),
// in either byte order (encapsulation 00 00 big-endian, 00 01 little-endian). Untrusted input is
// checked before every read and before every resize: a truncated sample, a sequence or string
// length larger than the bytes left, a string without its NUL, a bounded sequence or string over
// its bound, an unknown encapsulation each throw CdrError naming the problem, the field and the
// byte offset. Like ROS 2's own readers, a bool byte other than 0 reads as true and a string length
// of 0 as the empty string. Bytes after the last field are ignored (padding). On error `message`
// is left valid but partly overwritten.
void deserialize(const std::uint8_t* data, std::size_t size, void* message,
                 const MessageMembers& members);
void deserialize(const std::vector<std::uint8_t>& bytes, void* message,
                 const MessageMembers& members);

}  // namespace ros2_core
