// The CDR deserializer on untrusted samples of the message types the node and the tools take in:
// the first byte picks the type, the rest is the sample. Errors are CdrError; nothing else may
// escape and nothing may read outside the bytes.
#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <cstddef>
#include <cstdint>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "ros2_core/cdr_serialization.hpp"

namespace {

template <typename T>
void decode(const std::uint8_t* data, std::size_t size) {
  static const ros2_core::MessageMembers& members = ros2_core::introspection_members(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>());
  T message;
  try {
    ros2_core::deserialize(data, size, &message, members);
  } catch (const ros2_core::CdrError&) {
    return;
  }
  // An accepted sample encodes again without trouble.
  (void)ros2_core::serialize(&message, members);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  switch (data[0] % 3) {
    case 0:
      decode<sensor_msgs::msg::PointCloud2>(data + 1, size - 1);
      break;
    case 1:
      decode<corvanta_protocol::msg::SemanticPointCloud>(data + 1, size - 1);
      break;
    default:
      decode<tf2_msgs::msg::TFMessage>(data + 1, size - 1);
      break;
  }
  return 0;
}
