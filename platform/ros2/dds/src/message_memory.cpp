#include "ros2_dds/message_memory.hpp"

#include <cstddef>
#include <new>

#include <rosidl_runtime_cpp/message_initialization.hpp>

namespace ros2_dds {

std::shared_ptr<void> make_message(
    const rosidl_typesupport_introspection_cpp::MessageMembers& members) {
  constexpr std::align_val_t alignment{alignof(std::max_align_t)};
  void* memory = ::operator new(members.size_of_, alignment);
  try {
    members.init_function(memory, rosidl_runtime_cpp::MessageInitialization::ALL);
  } catch (...) {
    ::operator delete(memory, alignment);
    throw;
  }
  const auto* description = &members;
  return std::shared_ptr<void>(memory, [description](void* message) {
    description->fini_function(message);
    ::operator delete (message, std::align_val_t{alignof(std::max_align_t)});
  });
}

}  // namespace ros2_dds
