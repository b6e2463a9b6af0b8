#include "camera_frame.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
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

TEST(CameraFrame, PointsOnBinEdgesLandInTheBinsOfTheExactBearing) {
  // Bearings a hair either side of every bin edge, and random ones, each at its own range: the
  // contour must hold, per one-degree bin, the nearest point by the exact bearing.
  const Eigen::Vector3f lidar(0.2F, -0.1F, 0.4F);
  CameraFrame frame(lidarAt(lidar.x(), lidar.y(), lidar.z()));
  pcl::PointCloud<pcl::PointXYZ> cloud;
  std::uint32_t state = 12345U;
  auto uniform = [&state]() {
    state = state * 1664525U + 1013904223U;
    return static_cast<double>(state >> 8) / static_cast<double>(1U << 24);
  };
  for (int edge = -180; edge < 180; ++edge) {
    for (const double offset : {-3e-5, -1e-6, 1e-6, 3e-5, 0.5}) {
      const double bearing = (edge + offset) * M_PI / 180.0;
      const double range = 0.5 + 6.0 * uniform();
      cloud.points.emplace_back(lidar.x() + static_cast<float>(range * std::cos(bearing)),
                                lidar.y() + static_cast<float>(range * std::sin(bearing)), 0.5F);
    }
  }
  constexpr int kBins = 360;
  std::vector<float> nearest(kBins, std::numeric_limits<float>::infinity());
  std::vector<int> winner(kBins, -1);
  for (std::size_t i = 0; i < cloud.points.size(); ++i) {
    const float dx = cloud.points[i].x - lidar.x();
    const float dy = cloud.points[i].y - lidar.y();
    const float azimuth = std::atan2(dy, dx);
    const int bin = std::min(
        static_cast<int>((azimuth + 3.14159265358979F) / CameraFrame::kAzimuthBinRad), kBins - 1);
    if (dx * dx + dy * dy < nearest[bin]) {
      nearest[bin] = dx * dx + dy * dy;
      winner[bin] = static_cast<int>(i);
    }
  }
  frame.calculate(cloud);
  corvanta_protocol::msg::SemanticPointCloud msg;
  frame.fillShapeToMsg(msg);
  std::size_t k = 0;
  for (int bin = 0; bin < kBins; ++bin) {
    if (winner[bin] < 0) {
      continue;
    }
    ASSERT_LT(k, msg.shape.size());
    const pcl::PointXYZ& p = cloud.points[static_cast<std::size_t>(winner[bin])];
    EXPECT_EQ(msg.shape[k].x, p.x) << "bin " << bin;
    EXPECT_EQ(msg.shape[k].y, p.y) << "bin " << bin;
    EXPECT_EQ(msg.shape[k].azimuth, std::atan2(p.y - lidar.y(), p.x - lidar.x()));
    ++k;
  }
  EXPECT_EQ(k, msg.shape.size());
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
