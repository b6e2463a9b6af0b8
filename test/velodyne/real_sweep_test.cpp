// The real VLP-16 sweep that Debian's mrpt-common ships: an outdoor scene recorded about 2.25 m
// above the ground.
#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <fstream>
#include <vector>

#include "velodyne/mrpt_dataset.hpp"
#include "velodyne/rawlog_reader.hpp"
#include "velodyne/sensor_mount.hpp"
#include "velodyne/vlp16_decoder.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

class RealSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::ifstream(velodyne::kMrptVlp16Rawlog)) {
      GTEST_SKIP() << velodyne::kMrptVlp16Rawlog
                   << " is missing: install Debian's mrpt-common (scripts/setup does)";
    }
    const velodyne::FoundPackets found = velodyne::readRawlogPackets(velodyne::kMrptVlp16Rawlog);
    packets_ = found.packets.size();
    points_ = velodyne::decodeSweep(found.packets);
  }

  // The q-quantile (0..1) of `values`, nearest rank.
  static double quantile(std::vector<double> values, double q) {
    const std::size_t k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k];
  }

  std::size_t packets_{};
  std::vector<velodyne::Vlp16Point> points_;
};

TEST_F(RealSweep, HoldsOneFullTurnOfAllSixteenRings) {
  // 75 packets x 384 channels = 28800 at most; an outdoor scene leaves some without return.
  EXPECT_EQ(packets_, 75U);
  EXPECT_GE(points_.size(), 20000U);
  EXPECT_LE(points_.size(), 24000U);
  std::bitset<16> rings;
  std::bitset<360> degrees;
  std::size_t non_finite = 0;
  float previous_time = 0.0F;
  std::size_t time_reversals = 0;
  for (const auto& p : points_) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z) ||
        !std::isfinite(p.intensity) || !std::isfinite(p.time_offset)) {
      ++non_finite;
      continue;
    }
    if (p.ring < 16) {
      rings.set(p.ring);
    }
    // Azimuth clockwise from +y towards +x.
    double azimuth = std::atan2(p.x, p.y) * 180.0 / kPi;
    azimuth = azimuth < 0.0 ? azimuth + 360.0 : azimuth;
    degrees.set(static_cast<std::size_t>(azimuth) % 360);
    time_reversals += p.time_offset < previous_time ? 1 : 0;
    previous_time = p.time_offset;
  }
  EXPECT_EQ(non_finite, 0U);
  EXPECT_EQ(rings.count(), 16U);
  // At 600 rpm the sweep's 75 packets span 75 x 1.327 ms = 99.5 ms: one turn.
  EXPECT_GE(degrees.count(), 350U);
  EXPECT_EQ(time_reversals, 0U);
  EXPECT_GT(previous_time, 0.095F);
  EXPECT_LT(previous_time, 0.105F);
}

TEST_F(RealSweep, GroundLiesAboutTwoAndAQuarterMetresBelowTheSensor) {
  std::vector<double> near_z;
  for (const auto& p : points_) {
    if (std::hypot(p.x, p.y) < 10.0F) {
      near_z.push_back(p.z);
    }
  }
  ASSERT_GT(near_z.size(), 5000U);
  // The lowest few percent of nearby returns are the ground around the sensor.
  const double p5 = quantile(near_z, 0.05);
  EXPECT_NEAR(p5, -2.25, 0.25);

  // Through the mount transform the same ground sits at the robot's base, z = 0.
  const auto mount = velodyne::sensorMountTransform(0);
  const auto& r = mount.transform.rotation;
  const auto& t = mount.transform.translation;
  const Eigen::Isometry3d base_from_sensor =
      Eigen::Translation3d(t.x, t.y, t.z) * Eigen::Quaterniond(r.w, r.x, r.y, r.z);
  std::vector<double> base_z;
  for (const auto& p : points_) {
    const Eigen::Vector3d b = base_from_sensor * Eigen::Vector3d(p.x, p.y, p.z);
    if (std::hypot(b.x(), b.y()) < 10.0) {
      base_z.push_back(b.z());
    }
  }
  EXPECT_NEAR(quantile(base_z, 0.05), 0.0, 0.25);
}

}  // namespace
