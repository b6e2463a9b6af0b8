#include "camera_frame.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

Eigen::Matrix4f lidarAt(float x, float y, float z) {
  Eigen::Matrix4f t = Eigen::Matrix4f::Identity();
  t(0, 3) = x;
  t(1, 3) = y;
  t(2, 3) = z;
  return t;
}

TEST(CameraFrame, ContourHoldsTheNearestObstaclePerDirection) {
  // Lidar at (0.1, 0, 0.3): bearings are measured from there.
  CameraFrame frame(lidarAt(0.1F, 0.0F, 0.3F));
  pcl::PointCloud<pcl::PointXYZ> cloud;
  cloud.points = {{2.1F, 2.0F, 0.4F},   // bearing 45 degrees, 2.83 m
                  {1.1F, 1.0F, 0.2F},   // same bearing, 1.41 m: the nearer one wins
                  {0.6F, 0.5F, 0.01F},  // same bearing, but floor height: ignored
                  {0.1F, 3.0F, 0.3F},   // bearing 90 degrees
                  {std::nanf(""), 1.0F, 0.3F}};
  frame.calculate(cloud);
  corvanta_protocol::msg::SemanticPointCloud msg;
  msg.shape.resize(7);  // stale content is replaced
  frame.fillShapeToMsg(msg);
  ASSERT_EQ(msg.shape.size(), 2U);
  EXPECT_FLOAT_EQ(msg.shape[0].x, 1.1F);
  EXPECT_FLOAT_EQ(msg.shape[0].y, 1.0F);
  EXPECT_FLOAT_EQ(msg.shape[0].z, 0.2F);
  EXPECT_NEAR(msg.shape[0].azimuth, M_PI / 4.0, 1e-5);
  EXPECT_FLOAT_EQ(msg.shape[1].y, 3.0F);
  EXPECT_NEAR(msg.shape[1].azimuth, M_PI / 2.0, 1e-5);

  frame.calculate(pcl::PointCloud<pcl::PointXYZ>());
  frame.fillShapeToMsg(msg);
  EXPECT_TRUE(msg.shape.empty());
}

TEST(CameraFrameInstance, RegistersOneFramePerCameraAcrossThreads) {
  constexpr int kIndex = 40;
  EXPECT_EQ(CameraFrameInstance::get(kIndex), nullptr);
  std::atomic<int> created{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      if (CameraFrameInstance::load(kIndex, Eigen::Matrix4f::Identity())) {
        ++created;
      }
    });
  }
  for (auto& t : threads) {
    t.join();
  }
  EXPECT_EQ(created.load(), 1);
  const auto frame = CameraFrameInstance::get(kIndex);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(CameraFrameInstance::get(kIndex), frame);
  EXPECT_EQ(CameraFrameInstance::get(kIndex + 1), nullptr);

  EXPECT_FALSE(CameraFrameInstance::load(-1, Eigen::Matrix4f::Identity()));
  Eigen::Matrix4f broken = Eigen::Matrix4f::Identity();
  broken(1, 3) = INFINITY;
  EXPECT_FALSE(CameraFrameInstance::load(kIndex + 2, broken));
  EXPECT_EQ(CameraFrameInstance::get(kIndex + 2), nullptr);
}

}  // namespace
