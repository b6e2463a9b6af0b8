// Common reading interface of the bag formats, and the function that opens any of them.
//
// A reader delivers the messages of the chosen topics in log-time order (ties in file order).
// Every method that touches the file throws BagError naming the file and, for damage, the offset.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bag_io/bag_message.hpp"

namespace bag_io {

class BagReader {
 public:
  virtual ~BagReader() = default;

  virtual const std::string& path() const = 0;
  virtual const std::vector<TopicInfo>& topics() const = 0;

  // Restricts reading to `topic_names` (empty: every topic) and restarts from the first
  // message. Names that are not in the bag are an error (std::invalid_argument).
  virtual void setTopicFilter(const std::vector<std::string>& topic_names) = 0;

  // Fills `message` with the next message and returns true, or returns false at the end.
  virtual bool readNext(BagMessage& message) = 0;
};

// Opens `path` by what it is: a `.mcap` file, a `.db3` file (its metadata.yaml must sit beside
// it), or a rosbag2 bag folder with metadata.yaml naming sqlite3 or mcap storage.
std::unique_ptr<BagReader> openBag(const std::string& path);

}  // namespace bag_io
