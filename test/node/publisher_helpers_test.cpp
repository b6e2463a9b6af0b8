// PublisherSkipFrame and publishCloud on real publishers, observed through subscriptions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "node_harness.hpp"
#include "publish_cloud.hpp"
#include "publisher_skip_frame.hpp"

namespace lidar_perception {
namespace {

using sensor_msgs::msg::CameraInfo;
using sensor_msgs::msg::PointCloud2;

class PublisherHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("publisher_helpers");
  }
  void TearDown() override {
    node_.reset();
    rclcpp::shutdown();
  }
  // Publishing starts once the subscription is matched: a middleware matches asynchronously and
  // a volatile publisher does not keep what it sent before.
  template <typename MessageT>
  static bool waitForSubscriber(const std::shared_ptr<rclcpp::Publisher<MessageT>>& publisher) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (publisher->get_subscription_count() == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  // Spins until `received` holds `count` messages or the deadline passes (a middleware delivers
  // asynchronously), then a little longer so that surplus messages on their way are seen too.
  template <typename MessageT>
  void deliver(const Recorder<MessageT>& received, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (received.messages().size() < count && std::chrono::steady_clock::now() < deadline) {
      rclcpp::spin_some(node_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto settle_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < settle_end) {
      rclcpp::spin_some(node_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  static constexpr std::chrono::seconds kDeadline{5};
  std::shared_ptr<rclcpp::Node> node_;
};

TEST_F(PublisherHelpers, SkipFrameForwardsTheFirstAndThenEveryTenth) {
  Recorder<CameraInfo> received(*node_, "info", rclcpp::QoS(100));
  auto publisher = node_->create_publisher<CameraInfo>("info", 100);
  ASSERT_TRUE(waitForSubscriber(publisher));
  PublisherSkipFrame<CameraInfo> skipping(publisher, 9);
  for (uint32_t call = 1; call <= 25; ++call) {
    CameraInfo info;
    info.width = call;
    skipping.publish(info);
  }
  deliver(received, 3);
  std::vector<uint32_t> forwarded;
  for (const auto& info : received.messages()) {
    forwarded.push_back(info.width);
  }
  EXPECT_EQ(forwarded, (std::vector<uint32_t>{1, 11, 21}));
}

TEST_F(PublisherHelpers, SkipFrameBelowOneForwardsEverything) {
  for (const int32_t skip : {0, -3}) {
    Recorder<CameraInfo> received(*node_, "every", rclcpp::QoS(100));
    auto publisher = node_->create_publisher<CameraInfo>("every", 100);
    ASSERT_TRUE(waitForSubscriber(publisher));
    PublisherSkipFrame<CameraInfo> skipping(publisher, skip);
    for (int call = 0; call < 5; ++call) {
      skipping.publish(CameraInfo());
    }
    deliver(received, 5);
    EXPECT_EQ(received.messages().size(), 5u) << "skip " << skip;
  }
}

TEST_F(PublisherHelpers, PublishCloudStampsFramesAndKeepsPoints) {
  Recorder<PointCloud2> received(*node_, "cloud", rclcpp::QoS(10));
  auto publisher = node_->create_publisher<PointCloud2>("cloud", 10);
  ASSERT_TRUE(waitForSubscriber(publisher));
  const rclcpp::Time stamp(42, 7, RCL_ROS_TIME);

  pcl::PointCloud<pcl::PointXYZ> empty;
  publishCloud(empty, stamp, publisher, "base_footprint");
  pcl::PointCloud<pcl::PointXYZ> two;
  two.push_back({1.0f, 2.0f, 3.0f});
  two.push_back({-1.0f, 0.5f, 0.25f});
  publishCloud(two, stamp, publisher, "virtual_camera0_color_optical_frame");
  publishCloud(two, stamp, nullptr, "ignored");  // no publisher: nothing happens
  deliver(received, 2);

  const auto messages = received.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].height, 1u);
  EXPECT_EQ(messages[0].width, 0u);
  EXPECT_EQ(messages[0].header.frame_id, "base_footprint");
  EXPECT_EQ(messages[0].header.stamp.sec, 42);
  EXPECT_EQ(messages[0].header.stamp.nanosec, 7u);

  const PointCloud2& cloud = messages[1];
  EXPECT_EQ(cloud.header.frame_id, "virtual_camera0_color_optical_frame");
  EXPECT_EQ(cloud.point_step, 16u);
  EXPECT_EQ(cloud.width, 2u);
  ASSERT_GE(cloud.fields.size(), 3u);
  EXPECT_EQ(cloud.fields[0].name, "x");
  EXPECT_EQ(cloud.fields[2].offset, 8u);
  float xyz[3];
  std::memcpy(xyz, cloud.data.data() + 16, sizeof(xyz));
  EXPECT_EQ(xyz[0], -1.0f);
  EXPECT_EQ(xyz[1], 0.5f);
  EXPECT_EQ(xyz[2], 0.25f);
}

}  // namespace
}  // namespace lidar_perception
