// Reads a bag of rosbag2's sqlite3 storage (ROS 2 Humble's default): a folder with
// metadata.yaml and one or more `.db3` files holding the tables `topics` (id, name, type,
// serialization_format, offered_qos_profiles) and `messages` (id, topic_id, timestamp, data).
//
// Files are read in the order metadata.yaml lists them; within a file messages come in timestamp
// order. Owns one open database at a time; not thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bag_io/bag_reader.hpp"

namespace bag_io {

class Db3Reader : public BagReader {
 public:
  // `path`: the bag folder or one of its .db3 files. Throws BagError naming metadata.yaml when
  // it is missing or malformed, or naming the .db3 file when the database is unreadable.
  explicit Db3Reader(const std::string& path);
  ~Db3Reader() override;

  const std::string& path() const override;
  const std::vector<TopicInfo>& topics() const override;
  void setTopicFilter(const std::vector<std::string>& topic_names) override;
  bool readNext(BagMessage& message) override;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bag_io
