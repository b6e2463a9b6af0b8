// Builds the "ros2msg" schema text that MCAP files carry for a ROS 2 message type: the type's
// own .msg text first, then every message type it uses, directly or through others, once each,
// depth first in the order the fields name them, each after a line of 80 '=' and a line
// "MSG: <package>/<Type>". Readers such as Foxglove Studio decode CDR payloads with it.
//
// The .msg files come from message packages' share folders (<share>/<package>/msg/<Type>.msg),
// found through a list of install prefixes (AMENT_PREFIX_PATH on a ROS 2 system) or share roots.
// Texts are cached; not thread-safe.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace bag_io {

class MsgSchemaBuilder {
 public:
  // `share_roots`: folders holding one folder per package (an install prefix's share/).
  explicit MsgSchemaBuilder(std::vector<std::string> share_roots);
  // The share/ folders of the prefixes in AMENT_PREFIX_PATH.
  static MsgSchemaBuilder fromAmentPrefixPath();

  // `type`: "sensor_msgs/msg/PointCloud2" or "sensor_msgs/PointCloud2". Throws
  // std::invalid_argument for a malformed name or a type (or dependency) whose .msg file is in
  // none of the share roots, naming the files looked for.
  std::string schemaText(const std::string& type);

 private:
  // The .msg text of "package/Type".
  const std::string& definition(const std::string& package_type);

  std::vector<std::string> share_roots_;
  std::map<std::string, std::string> texts_;
};

}  // namespace bag_io
