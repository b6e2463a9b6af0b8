// Messages of a type known only by its introspection description.
#pragma once

#include <memory>

#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>

namespace ros2_dds {

// A default-initialised message of the C++ type `members` describes, destroyed with its own
// finaliser. The description must outlive the message (type supports are static data).
std::shared_ptr<void> make_message(
    const rosidl_typesupport_introspection_cpp::MessageMembers& members);

}  // namespace ros2_dds
