#include "bag_metadata.hpp"

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include <filesystem>

#include "bag_io/bag_error.hpp"

namespace bag_io {

BagMetadata readBagMetadata(const std::string& path) {
  if (!std::filesystem::is_regular_file(path)) {
    throw BagError(path, "missing: a rosbag2 bag folder needs its metadata.yaml");
  }
  YAML::Node root;
  try {
    root = YAML::LoadFile(path);
  } catch (const YAML::Exception& e) {
    throw BagError(path, fmt::format("not valid YAML: {}", e.what()));
  }
  // Subscripting a scalar throws, so a document that is not a map is refused first.
  const YAML::Node info = root.IsMap() ? root["rosbag2_bagfile_information"] : YAML::Node();
  if (!info.IsMap()) {
    throw BagError(path, "no rosbag2_bagfile_information map: not a rosbag2 metadata file");
  }
  BagMetadata metadata;
  try {
    if (!info["storage_identifier"] || !info["relative_file_paths"] ||
        !info["relative_file_paths"].IsSequence()) {
      throw BagError(path,
                     "rosbag2_bagfile_information lacks storage_identifier or the "
                     "relative_file_paths list");
    }
    metadata.storage_identifier = info["storage_identifier"].as<std::string>();
    for (const auto& file : info["relative_file_paths"]) {
      metadata.relative_file_paths.push_back(file.as<std::string>());
    }
    if (info["compression_format"]) {
      metadata.compression_format = info["compression_format"].as<std::string>();
    }
    if (info["compression_mode"]) {
      metadata.compression_mode = info["compression_mode"].as<std::string>();
    }
    if (const YAML::Node topics = info["topics_with_message_count"]; topics.IsSequence()) {
      for (const auto& entry : topics) {
        const YAML::Node meta = entry["topic_metadata"];
        TopicInfo topic;
        topic.name = meta["name"].as<std::string>();
        topic.type = meta["type"].as<std::string>();
        topic.serialization_format = meta["serialization_format"].as<std::string>("cdr");
        topic.offered_qos_profiles = meta["offered_qos_profiles"].as<std::string>("");
        topic.message_count = entry["message_count"].as<std::uint64_t>(0);
        topic.schema_encoding.clear();
        metadata.topics.push_back(std::move(topic));
      }
    }
  } catch (const YAML::Exception& e) {
    throw BagError(path, fmt::format("malformed rosbag2_bagfile_information: {}", e.what()));
  }
  return metadata;
}

}  // namespace bag_io
