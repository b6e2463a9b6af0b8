// Rotations checked by where they take the unit axes, worked out by hand with right-hand rules.
#include "static_transform_publisher/rotation.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

using static_transform_publisher::fromRollPitchYaw;
using static_transform_publisher::normalized;
using static_transform_publisher::Quaternion;
using Vector = std::array<double, 3>;

constexpr double kQuarterTurn = 1.5707963267948966;

// q v q*, written out as v + 2w (u x v) + 2 u x (u x v) with u = (x, y, z).
Vector rotate(const Quaternion& q, const Vector& v) {
  const Vector u{q.x, q.y, q.z};
  const auto cross = [](const Vector& a, const Vector& b) {
    return Vector{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  };
  const Vector uv = cross(u, v);
  const Vector uuv = cross(u, uv);
  return {v[0] + 2 * (q.w * uv[0] + uuv[0]), v[1] + 2 * (q.w * uv[1] + uuv[1]),
          v[2] + 2 * (q.w * uv[2] + uuv[2])};
}

void expectNear(const Vector& actual, const Vector& expected) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(actual[i], expected[i], 1e-12) << "component " << i;
  }
}

TEST(Rotation, SingleAxisQuarterTurns) {
  expectNear(rotate(fromRollPitchYaw(0, 0, kQuarterTurn), {1, 0, 0}), {0, 1, 0});
  expectNear(rotate(fromRollPitchYaw(0, kQuarterTurn, 0), {1, 0, 0}), {0, 0, -1});
  expectNear(rotate(fromRollPitchYaw(0, kQuarterTurn, 0), {0, 0, 1}), {1, 0, 0});
  expectNear(rotate(fromRollPitchYaw(kQuarterTurn, 0, 0), {0, 1, 0}), {0, 0, 1});
  const Quaternion yaw = fromRollPitchYaw(0, 0, kQuarterTurn);
  EXPECT_NEAR(yaw.z, std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(yaw.w, std::sqrt(0.5), 1e-15);
}

TEST(Rotation, RollThenPitchThenYawAboutFixedAxes) {
  // Roll a quarter turn about x, then yaw a quarter turn about z.
  const Quaternion roll_yaw = fromRollPitchYaw(kQuarterTurn, 0, kQuarterTurn);
  expectNear(rotate(roll_yaw, {1, 0, 0}), {0, 1, 0});
  expectNear(rotate(roll_yaw, {0, 1, 0}), {0, 0, 1});
  expectNear(rotate(roll_yaw, {0, 0, 1}), {1, 0, 0});
  // Pitch a quarter turn about y, then yaw a quarter turn about z.
  const Quaternion pitch_yaw = fromRollPitchYaw(0, kQuarterTurn, kQuarterTurn);
  expectNear(rotate(pitch_yaw, {1, 0, 0}), {0, 0, -1});
  expectNear(rotate(pitch_yaw, {0, 1, 0}), {-1, 0, 0});
  const Quaternion q = fromRollPitchYaw(0.3, -1.1, 2.9);
  EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0, 1e-15);
}

TEST(Rotation, NormalizedScalesToUnitLength) {
  const Quaternion half = normalized({1, 1, 1, 1});
  EXPECT_DOUBLE_EQ(half.x, 0.5);
  EXPECT_DOUBLE_EQ(half.w, 0.5);
  const Quaternion z = normalized({0, 0, 2, 0});
  EXPECT_DOUBLE_EQ(z.z, 1.0);
  EXPECT_DOUBLE_EQ(z.w, 0.0);
  EXPECT_THROW(normalized({0, 0, 0, 0}), std::invalid_argument);
  EXPECT_THROW(normalized({std::numeric_limits<double>::quiet_NaN(), 0, 0, 1}),
               std::invalid_argument);
  EXPECT_THROW(normalized({std::numeric_limits<double>::infinity(), 0, 0, 1}),
               std::invalid_argument);
}

}  // namespace
