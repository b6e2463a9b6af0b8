// PublisherSkipFrame and publishCloud on real publishers, observed through subscriptions.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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
  // Delivers what is pending to the recorders.
  void deliver() { rclcpp::spin_some(node_); }
  std::shared_ptr<rclcpp::Node> node_;
};

TEST_F(PublisherHelpers, SkipFrameForwardsTheFirstAndThenEveryTenth) {
  Recorder<CameraInfo> received(*node_, "info", rclcpp::QoS(100));
  PublisherSkipFrame<CameraInfo> skipping(node_->create_publisher<CameraInfo>("info", 100), 9);
  for (uint32_t call = 1; call <= 25; ++call) {
    CameraInfo info;
    info.width = call;
    skipping.publish(info);
  }
  deliver();
  std::vector<uint32_t> forwarded;
  for (const auto& info : received.messages()) {
    forwarded.push_back(info.width);
  }
  EXPECT_EQ(forwarded, (std::vector<uint32_t>{1, 11, 21}));
}

TEST_F(PublisherHelpers, SkipFrameBelowOneForwardsEverything) {
  for (const int32_t skip : {0, -3}) {
    Recorder<CameraInfo> received(*node_, "every", rclcpp::QoS(100));
    PublisherSkipFrame<CameraInfo> skipping(node_->create_publisher<CameraInfo>("every", 100),
                                            skip);
    for (int call = 0; call < 5; ++call) {
      skipping.publish(CameraInfo());
    }
    deliver();
    EXPECT_EQ(received.messages().size(), 5u) << "skip " << skip;
  }
}

TEST_F(PublisherHelpers, PublishCloudStampsFramesAndKeepsPoints) {
  Recorder<PointCloud2> received(*node_, "cloud", rclcpp::QoS(10));
  auto publisher = node_->create_publisher<PointCloud2>("cloud", 10);
  const rclcpp::Time stamp(42, 7, RCL_ROS_TIME);

  pcl::PointCloud<pcl::PointXYZ> empty;
  publishCloud(empty, stamp, publisher, "base_footprint");
  pcl::PointCloud<pcl::PointXYZ> two;
  two.push_back({1.0f, 2.0f, 3.0f});
  two.push_back({-1.0f, 0.5f, 0.25f});
  publishCloud(two, stamp, publisher, "virtual_camera0_color_optical_frame");
  publishCloud(two, stamp, nullptr, "ignored");  // no publisher: nothing happens
  deliver();

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
