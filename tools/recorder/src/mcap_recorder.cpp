#include "topic_recorder/mcap_recorder.hpp"

#include <chrono>
#include <cstdio>

#include <algorithm>
#include <stdexcept>

#include <fmt/format.h>
#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <tf2_msgs/msg/tf_message.hpp>
#include <visualization_msgs/msg/marker.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include "bag_io/qos_profile.hpp"

namespace topic_recorder {

namespace {

constexpr std::size_t kDepth = 100;

bool isStaticTf(const std::string& topic) {
  return topic == "/tf_static";
}

rclcpp::QoS subscriptionQos(const std::string& topic) {
  rclcpp::QoS qos{rclcpp::KeepLast(kDepth)};
  if (isStaticTf(topic)) {
    qos.reliable().transient_local();
  } else {
    qos.best_effort();
  }
  return qos;
}

}  // namespace

const std::vector<std::string>& recordableTypes() {
  static const std::vector<std::string> types{"sensor_msgs/msg/PointCloud2",
                                              "sensor_msgs/msg/CameraInfo",
                                              "corvanta_protocol/msg/SemanticPointCloud",
                                              "livox_ros_driver2/msg/CustomMsg",
                                              "visualization_msgs/msg/MarkerArray",
                                              "visualization_msgs/msg/Marker",
                                              "tf2_msgs/msg/TFMessage"};
  return types;
}

McapRecorder::McapRecorder(const rclcpp::Node::SharedPtr& node, const std::string& path,
                           const std::vector<RecordedTopic>& topics,
                           bag_io::MsgSchemaBuilder& schemas)
    : node_(node), path_(path) {
  for (const auto& topic : topics) {
    const auto& types = recordableTypes();
    if (std::find(types.begin(), types.end(), topic.type) == types.end()) {
      throw std::invalid_argument(fmt::format("cannot record {}: type {} is not one of {}",
                                              topic.name, topic.type, fmt::join(types, ", ")));
    }
  }
  writer_ = std::make_unique<bag_io::McapWriter>(path);
  for (const auto& topic : topics) {
    bag_io::TopicInfo info;
    info.name = topic.name;
    info.type = topic.type;
    info.offered_qos_profiles = bag_io::offeredQosProfiles(isStaticTf(topic.name), kDepth);
    info.schema_text = schemas.schemaText(topic.type);
    const std::uint16_t channel = writer_->addTopic(info);
    per_topic_[topic.name] = 0;
    if (topic.type == "sensor_msgs/msg/PointCloud2") {
      subscribe<sensor_msgs::msg::PointCloud2>(topic, channel);
    } else if (topic.type == "sensor_msgs/msg/CameraInfo") {
      subscribe<sensor_msgs::msg::CameraInfo>(topic, channel);
    } else if (topic.type == "corvanta_protocol/msg/SemanticPointCloud") {
      subscribe<corvanta_protocol::msg::SemanticPointCloud>(topic, channel);
    } else if (topic.type == "livox_ros_driver2/msg/CustomMsg") {
      subscribe<livox_ros_driver2::msg::CustomMsg>(topic, channel);
    } else if (topic.type == "visualization_msgs/msg/MarkerArray") {
      subscribe<visualization_msgs::msg::MarkerArray>(topic, channel);
    } else if (topic.type == "visualization_msgs/msg/Marker") {
      subscribe<visualization_msgs::msg::Marker>(topic, channel);
    } else {
      subscribe<tf2_msgs::msg::TFMessage>(topic, channel);
    }
  }
}

McapRecorder::~McapRecorder() {
  try {
    close();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", path_.c_str(), error.what());
  }
}

template <typename MessageT>
void McapRecorder::subscribe(const RecordedTopic& topic, std::uint16_t channel) {
  auto serialization = std::make_shared<rclcpp::Serialization<MessageT>>();
  const std::string name = topic.name;
  subscriptions_.push_back(node_->create_subscription<MessageT>(
      topic.name, subscriptionQos(topic.name),
      [this, serialization, channel, name](std::shared_ptr<const MessageT> message) {
        rclcpp::SerializedMessage serialized;
        try {
          serialization->serialize_message(message.get(), &serialized);
        } catch (const std::exception& error) {
          std::fprintf(stderr, "%s: a message on %s cannot be serialized: %s\n", path_.c_str(),
                       name.c_str(), error.what());
          return;
        }
        const auto& raw = serialized.get_rcl_serialized_message();
        write(channel, name, raw.buffer, raw.buffer_length);
      }));
}

void McapRecorder::write(std::uint16_t channel, const std::string& topic, const std::uint8_t* data,
                         std::size_t size) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto log_time =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  std::lock_guard<std::mutex> lock(mutex_);
  if (writer_ == nullptr) {
    return;
  }
  try {
    writer_->write(channel, log_time, log_time, data, size);
    ++per_topic_[topic];
    ++written_;
  } catch (const std::exception& error) {
    // A full disk must not take the process down; the first failure is reported once.
    if (first_error_.empty()) {
      first_error_ = error.what();
      std::fprintf(stderr, "%s: recording stopped: %s\n", path_.c_str(), error.what());
    }
  }
}

std::map<std::string, std::uint64_t> McapRecorder::countsByTopic() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return per_topic_;
}

void McapRecorder::close() {
  subscriptions_.clear();
  std::unique_ptr<bag_io::McapWriter> writer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    writer = std::move(writer_);
  }
  if (writer != nullptr) {
    writer->close();
  }
}

}  // namespace topic_recorder
