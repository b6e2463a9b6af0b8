// What a bag holds: topics and the messages recorded on them.
//
// Payloads are opaque: `data` is the CDR-serialised message exactly as it travelled on the wire
// (4-byte encapsulation header included). Decoding them is the caller's business.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bag_io {

struct TopicInfo {
  std::string name;                         // "/cloud"
  std::string type;                         // "sensor_msgs/msg/PointCloud2"
  std::string serialization_format{"cdr"};  // message encoding of the payloads
  std::string offered_qos_profiles;         // YAML text as rosbag2 stores it; may be empty
  std::string schema_encoding{"ros2msg"};   // empty when the bag carries no definition
  std::string schema_text;                  // .msg text with its dependencies appended
  std::uint64_t message_count{0};           // when the bag records it; 0 when unknown
};

struct BagMessage {
  std::string topic;
  std::uint64_t log_time{0};      // nanoseconds; the time the recorder received the message
  std::uint64_t publish_time{0};  // nanoseconds; equals log_time where the bag has no other
  std::vector<std::uint8_t> data;
};

}  // namespace bag_io
