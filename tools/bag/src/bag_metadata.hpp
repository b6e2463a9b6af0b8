// The metadata.yaml of a rosbag2 bag folder: storage plugin, data files, topics and counts.
#pragma once

#include <string>
#include <vector>

#include "bag_io/bag_message.hpp"

namespace bag_io {

struct BagMetadata {
  std::string storage_identifier;  // "sqlite3" or "mcap"
  std::vector<std::string> relative_file_paths;
  std::vector<TopicInfo> topics;  // with message_count; no schema text
  std::string compression_format;
  std::string compression_mode;
};

// Reads `path` (a metadata.yaml). Throws BagError naming it when it is missing, is not YAML or
// lacks rosbag2_bagfile_information's storage_identifier or relative_file_paths.
BagMetadata readBagMetadata(const std::string& path);

}  // namespace bag_io
