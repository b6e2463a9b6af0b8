// Ray-shape hits against distances worked out by hand from the solids' dimensions.
#include <gtest/gtest.h>

#include <cmath>

#include "lidar_sim/ray_shape.hpp"

namespace lidar_sim {
namespace {

const Eigen::Vector3d kAlongX = Eigen::Vector3d::UnitX();

double hitDistance(const RayShape& shape, const Ray& ray, double max_distance = 100.0) {
  SurfaceHit hit;
  return shape.intersect(ray, max_distance, hit) ? hit.distance : -1.0;
}

TEST(RayShapeTest, BoxFacesAndYaw) {
  const RayShape box = RayShape::box({5.0, 0.0, 1.0}, {1.0, 2.0, 2.0}, 0.0);
  SurfaceHit hit;
  ASSERT_TRUE(box.intersect(Ray({0.0, 0.0, 1.0}, kAlongX), 100.0, hit));
  EXPECT_NEAR(hit.distance, 4.5, 1e-12);
  EXPECT_NEAR(hit.normal.x(), -1.0, 1e-12);

  // Turned a quarter, the 2 m side faces the ray: front face at 5 - 1.
  const RayShape turned = RayShape::box({5.0, 0.0, 1.0}, {1.0, 2.0, 2.0}, M_PI / 2.0);
  EXPECT_NEAR(hitDistance(turned, Ray({0.0, 0.0, 1.0}, kAlongX)), 4.0, 1e-12);

  // From above onto the top face at z = 2.
  ASSERT_TRUE(box.intersect(Ray({5.0, 0.5, 7.0}, -Eigen::Vector3d::UnitZ()), 100.0, hit));
  EXPECT_NEAR(hit.distance, 5.0, 1e-12);
  EXPECT_NEAR(hit.normal.z(), 1.0, 1e-12);

  EXPECT_LT(hitDistance(box, Ray({0.0, 0.0, 2.5}, kAlongX)), 0.0) << "passes over the top";
  EXPECT_LT(hitDistance(box, Ray({5.0, 0.0, 1.0}, kAlongX)), 0.0) << "starts inside";
  EXPECT_LT(hitDistance(box, Ray({0.0, 0.0, 1.0}, kAlongX), 4.0), 0.0) << "beyond max distance";
  EXPECT_LT(hitDistance(box, Ray({0.0, 0.0, 1.0}, -kAlongX)), 0.0) << "behind the origin";
}

TEST(RayShapeTest, EllipticCylinderSidesAndCaps) {
  const RayShape cylinder = RayShape::ellipticCylinder({3.0, 0.0}, 0.0, 2.0, 0.5, 0.2, 0.0);
  EXPECT_NEAR(hitDistance(cylinder, Ray({0.0, 0.0, 1.0}, kAlongX)), 2.5, 1e-12);
  // Off the axis by 0.1: (x - 3)^2 / 0.25 + 0.1^2 / 0.04 = 1 gives x = 3 - sqrt(0.1875).
  EXPECT_NEAR(hitDistance(cylinder, Ray({0.0, 0.1, 1.0}, kAlongX)), 3.0 - std::sqrt(0.1875), 1e-12);
  const RayShape turned = RayShape::ellipticCylinder({3.0, 0.0}, 0.0, 2.0, 0.5, 0.2, M_PI / 2.0);
  EXPECT_NEAR(hitDistance(turned, Ray({0.0, 0.0, 1.0}, kAlongX)), 2.8, 1e-12);

  SurfaceHit hit;
  ASSERT_TRUE(cylinder.intersect(Ray({3.1, 0.0, 5.0}, -Eigen::Vector3d::UnitZ()), 100.0, hit));
  EXPECT_NEAR(hit.distance, 3.0, 1e-12);
  EXPECT_NEAR(hit.normal.z(), 1.0, 1e-12);
  ASSERT_TRUE(cylinder.intersect(Ray({3.0, 0.0, -1.0}, Eigen::Vector3d::UnitZ()), 100.0, hit));
  EXPECT_NEAR(hit.distance, 1.0, 1e-12);
  EXPECT_NEAR(hit.normal.z(), -1.0, 1e-12);

  EXPECT_LT(hitDistance(cylinder, Ray({0.0, 0.0, 2.1}, kAlongX)), 0.0) << "passes over";
  EXPECT_LT(hitDistance(cylinder, Ray({0.0, 0.25, 1.0}, kAlongX)), 0.0) << "passes beside";
}

TEST(RayShapeTest, SphereAndBounds) {
  const RayShape sphere = RayShape::sphere({0.0, 0.0, 5.0}, 1.0);
  SurfaceHit hit;
  ASSERT_TRUE(sphere.intersect(Ray({0.6, 0.0, 0.0}, Eigen::Vector3d::UnitZ()), 100.0, hit));
  EXPECT_NEAR(hit.distance, 5.0 - 0.8, 1e-12);
  EXPECT_NEAR(hit.normal.x(), 0.6, 1e-12);
  EXPECT_NEAR(hit.normal.z(), -0.8, 1e-12);
  EXPECT_LT(hitDistance(sphere, Ray({1.1, 0.0, 0.0}, Eigen::Vector3d::UnitZ())), 0.0);

  // A 2 x 1 box turned 45 degrees spans (2 + 1) / 2 * cos 45 either side of its centre.
  const Bounds bounds = RayShape::box({1.0, 2.0, 0.5}, {2.0, 1.0, 1.0}, M_PI / 4.0).bounds();
  const double reach = 1.5 * std::sqrt(0.5);
  EXPECT_NEAR(bounds.min.x(), 1.0 - reach, 1e-12);
  EXPECT_NEAR(bounds.max.y(), 2.0 + reach, 1e-12);
  EXPECT_NEAR(bounds.max.z(), 1.0, 1e-12);
  EXPECT_TRUE(bounds.isHitBefore(Ray({-5.0, 2.0, 0.5}, kAlongX), 100.0));
  EXPECT_FALSE(bounds.isHitBefore(Ray({-5.0, 2.0, 0.5}, kAlongX), 4.0));
  EXPECT_FALSE(bounds.isHitBefore(Ray({-5.0, 2.0, 1.5}, kAlongX), 100.0));
}

}  // namespace
}  // namespace lidar_sim
