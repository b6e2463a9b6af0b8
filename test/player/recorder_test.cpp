#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <rclcpp/rclcpp.hpp>
#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "bag_io/bag_reader.hpp"
#include "topic_recorder/mcap_recorder.hpp"
#include "topic_recorder/node_topics.hpp"

namespace {

namespace fs = std::filesystem;

class RecorderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rclcpp::init(0, nullptr); }
  static void TearDownTestSuite() { rclcpp::shutdown(); }
  fs::path scratch_ = fs::temp_directory_path() / ("recorder_test_" + std::to_string(::getpid()));
  void SetUp() override { fs::create_directories(scratch_); }
  void TearDown() override { fs::remove_all(scratch_); }
};

TEST_F(RecorderTest, WhatIsPublishedComesBackByteForByte) {
  auto node = std::make_shared<rclcpp::Node>("recorder_test");
  const std::string path = (scratch_ / "out.mcap").string();
  auto schemas = bag_io::MsgSchemaBuilder({INTERFACE_SHARE_DIR});
  topic_recorder::McapRecorder recorder(
      node, path,
      {{"/cloud", "sensor_msgs/msg/PointCloud2"}, {"/tf_static", "tf2_msgs/msg/TFMessage"}},
      schemas);
  // Sent before anything spins, as a mount is: the transient-local subscription still gets it.
  auto statics = node->create_publisher<tf2_msgs::msg::TFMessage>(
      "/tf_static", rclcpp::QoS(1).transient_local());
  tf2_msgs::msg::TFMessage mount;
  mount.transforms.resize(1);
  mount.transforms[0].child_frame_id = "3d_lidar_link";
  statics->publish(mount);
  auto clouds = node->create_publisher<sensor_msgs::msg::PointCloud2>("/cloud", rclcpp::QoS(10));

  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::vector<sensor_msgs::msg::PointCloud2> sent;
  for (int k = 0; k < 5; ++k) {
    sensor_msgs::msg::PointCloud2 cloud;
    cloud.header.stamp.sec = k;
    cloud.width = static_cast<std::uint32_t>(k);
    cloud.data.assign(static_cast<std::size_t>(k) * 16, static_cast<std::uint8_t>(k));
    clouds->publish(cloud);
    sent.push_back(cloud);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (recorder.messagesWritten() < 6 && std::chrono::steady_clock::now() < deadline) {
    executor.spin_some(std::chrono::milliseconds(20));
  }
  recorder.close();
  EXPECT_EQ(recorder.countsByTopic().at("/cloud"), 5U);
  EXPECT_EQ(recorder.countsByTopic().at("/tf_static"), 1U);

  auto reader = bag_io::openBag(path);
  bool qos_kept = false;
  for (const auto& topic : reader->topics()) {
    EXPECT_FALSE(topic.schema_text.empty()) << topic.name;
    if (topic.name == "/tf_static") {
      // rosbag2 writes the durability policy by number: 1 is transient local.
      qos_kept = topic.offered_qos_profiles.find("durability: 1\n") != std::string::npos;
    }
  }
  EXPECT_TRUE(qos_kept) << "/tf_static must be replayed as transient local";
  reader->setTopicFilter({"/cloud"});
  rclcpp::Serialization<sensor_msgs::msg::PointCloud2> serialization;
  bag_io::BagMessage message;
  std::size_t k = 0;
  std::uint64_t last_log_time = 0;
  while (reader->readNext(message)) {
    ASSERT_LT(k, sent.size());
    rclcpp::SerializedMessage bytes(message.data.size());
    std::copy(message.data.begin(), message.data.end(),
              bytes.get_rcl_serialized_message().buffer);
    bytes.get_rcl_serialized_message().buffer_length = message.data.size();
    sensor_msgs::msg::PointCloud2 decoded;
    serialization.deserialize_message(&bytes, &decoded);
    EXPECT_EQ(decoded, sent[k]) << "message " << k;
    EXPECT_GE(message.log_time, last_log_time);
    last_log_time = message.log_time;
    ++k;
  }
  EXPECT_EQ(k, sent.size());
}

TEST_F(RecorderTest, RefusesTypesItCannotRecord) {
  auto node = std::make_shared<rclcpp::Node>("recorder_refuses");
  auto schemas = bag_io::MsgSchemaBuilder({INTERFACE_SHARE_DIR});
  const std::string path = (scratch_ / "never.mcap").string();
  EXPECT_THROW(topic_recorder::McapRecorder(node, path, {{"/chatter", "std_msgs/msg/String"}},
                                            schemas),
               std::invalid_argument);
  EXPECT_FALSE(fs::exists(path)) << "no file is left behind for a refused recording";
}

TEST_F(RecorderTest, NodeTopicsFollowTheParameterFile) {
  const auto shipped = topic_recorder::nodeTopicsFromParameters(SHIPPED_NODE_PARAMS);
  auto has = [](const std::vector<topic_recorder::RecordedTopic>& topics, const std::string& name,
                const std::string& type) {
    for (const auto& t : topics) {
      if (t.name == name) {
        return t.type == type;
      }
    }
    return false;
  };
  EXPECT_TRUE(has(shipped, "/cloud_registered_body", "sensor_msgs/msg/PointCloud2"));
  EXPECT_TRUE(has(shipped, "/livox/virtual_camera0_semantic_dynamic_obstacles",
                  "corvanta_protocol/msg/SemanticPointCloud"));
  EXPECT_TRUE(has(shipped, "/virtual_camera_01_00_camera_info", "sensor_msgs/msg/CameraInfo"))
      << "relative names are recorded as the node resolves them";
  EXPECT_TRUE(has(shipped, "/livox/virtual_camera0_base_pointcloud", "sensor_msgs/msg/PointCloud2"));

  const std::string file = (scratch_ / "params.yaml").string();
  std::ofstream(file) << "/**:\n  ros__parameters:\n    debug: false\n    topic_type: 1\n"
                         "    enable_dynamic_static_split: false\n"
                         "    vir_cam_0.lidar_semantic_obstacles_topic: /obstacles\n"
                         "    vir_cam_0.lidar_base_pointcloud_topic: /base\n"
                         "    vir_cam_1.lidar_semantic_obstacles_topic: /not_a_camera\n";
  const auto custom = topic_recorder::nodeTopicsFromParameters(file);
  EXPECT_TRUE(has(custom, "/cloud_registered_body", "livox_ros_driver2/msg/CustomMsg"));
  EXPECT_TRUE(has(custom, "/obstacles", "corvanta_protocol/msg/SemanticPointCloud"));
  EXPECT_FALSE(has(custom, "/base", "sensor_msgs/msg/PointCloud2")) << "debug is off";
  EXPECT_FALSE(has(custom, "/not_a_camera", "corvanta_protocol/msg/SemanticPointCloud"))
      << "virtual_cameras_num is 1 by default";

  std::ofstream(file) << "lidar_detect_node:\n  ros__parameters:\n    virtual_cameras_num: two\n";
  try {
    topic_recorder::nodeTopicsFromParameters(file);
    FAIL() << "a camera count that is no number was accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("virtual_cameras_num"), std::string::npos);
  }
}

}  // namespace
