// Records ROS topics into an MCAP file as rosbag2 does: "cdr" messages, "ros2msg" schemas, the
// offered QoS of each topic, zstd chunks and a summary index.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "bag_io/mcap_writer.hpp"
#include "bag_io/msg_schema_builder.hpp"

namespace topic_recorder {

struct RecordedTopic {
  std::string name;  // "/tf"
  std::string type;  // "tf2_msgs/msg/TFMessage"
};

// The message types this recorder can subscribe to.
const std::vector<std::string>& recordableTypes();

// Subscribes on `node` to every topic of `topics` and appends each message it receives, with its
// receive time, to the MCAP file at `path`. /tf_static is subscribed reliable and transient local
// (so the mount sent before recording started is kept), every other topic best effort, which
// matches reliable and best-effort publishers alike. Messages arrive on the node's executor
// threads; writing is serialised.
class McapRecorder {
 public:
  // Throws std::invalid_argument for a type not in recordableTypes(), bag_io::BagError when the
  // file cannot be created, std::runtime_error when a schema text cannot be found.
  McapRecorder(const rclcpp::Node::SharedPtr& node, const std::string& path,
               const std::vector<RecordedTopic>& topics, bag_io::MsgSchemaBuilder& schemas);
  ~McapRecorder();
  McapRecorder(const McapRecorder&) = delete;
  McapRecorder& operator=(const McapRecorder&) = delete;

  // Stops recording (subscriptions are dropped) and writes the summary. Throws bag_io::BagError
  // on an I/O error. Idempotent.
  void close();

  std::uint64_t messagesWritten() const { return written_.load(); }
  std::map<std::string, std::uint64_t> countsByTopic() const;
  const std::string& path() const { return path_; }

 private:
  template <typename MessageT>
  void subscribe(const RecordedTopic& topic, std::uint16_t channel);
  void write(std::uint16_t channel, const std::string& topic, const std::uint8_t* data,
             std::size_t size);

  rclcpp::Node::SharedPtr node_;
  std::string path_;
  mutable std::mutex mutex_;
  std::unique_ptr<bag_io::McapWriter> writer_;      // guarded by mutex_; null once closed
  std::map<std::string, std::uint64_t> per_topic_;  // guarded by mutex_
  std::vector<rclcpp::SubscriptionBase::SharedPtr> subscriptions_;
  std::atomic<std::uint64_t> written_{0};
  std::string first_error_;  // guarded by mutex_
};

}  // namespace topic_recorder
