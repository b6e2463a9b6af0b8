// Virtual camera geometry and the per-point pipeline stages, against hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <Eigen/Geometry>

#include "frame_filters.hpp"
#include "virtual_camera_geometry.hpp"

namespace lidar_perception {
namespace {

constexpr double kPi = 3.141592653589793;

float radians(double degrees) {
  return static_cast<float>(degrees * kPi / 180.0);
}

VirtualCameraConfig defaultCamera() {
  VirtualCameraConfig c;
  c.vertical_up_pos = radians(52.0);
  c.vertical_down_pos = radians(-7.0);
  c.horizontal_start_pos = radians(0.0);
  c.horizontal_end_pos = radians(90.0);
  c.frame_id = "virtual_camera0_color_optical_frame";
  c.width = 1280;
  c.height = 800;
  return c;
}

Eigen::Matrix4f lidarMount(float height) {
  Eigen::Matrix4f m = Eigen::Matrix4f::Identity();
  m(2, 3) = height;
  return m;
}

using Cloud = pcl::PointCloud<pcl::PointXYZ>;

TEST(VirtualCameraGeometry, CameraLooksAlongTheMidAzimuthWithYUp) {
  VirtualCameraConfig config = defaultCamera();
  config.horizontal_start_pos = radians(-45.0);
  config.horizontal_end_pos = radians(45.0);
  const auto g = makeVirtualCameraGeometry(config, Eigen::Matrix4f::Identity());
  Eigen::Matrix3f expected;
  expected << 0, 0, 1, 1, 0, 0, 0, 1, 0;
  EXPECT_TRUE((g.cam2lidar.block<3, 3>(0, 0).isApprox(expected, 1e-6f))) << g.cam2lidar;

  // Default limits 0..90: z along azimuth 45, x 90 degrees counter-clockwise from it, y up.
  const auto d = makeVirtualCameraGeometry(defaultCamera(), Eigen::Matrix4f::Identity());
  const float h = std::sqrt(0.5f);
  EXPECT_TRUE((d.cam2lidar.block<3, 1>(0, 2).isApprox(Eigen::Vector3f(h, h, 0), 1e-6f)));
  EXPECT_TRUE((d.cam2lidar.block<3, 1>(0, 0).isApprox(Eigen::Vector3f(-h, h, 0), 1e-6f)));
  EXPECT_TRUE((d.cam2lidar.block<3, 1>(0, 1).isApprox(Eigen::Vector3f(0, 0, 1), 1e-6f)));
}

TEST(VirtualCameraGeometry, TransformsChainThroughTheMountAndInvert) {
  Eigen::Matrix4f mount = lidarMount(0.3f);
  mount.block<3, 3>(0, 0) = Eigen::AngleAxisf(0.3f, Eigen::Vector3f::UnitZ()).toRotationMatrix();
  mount(0, 3) = 0.1f;
  const auto g = makeVirtualCameraGeometry(defaultCamera(), mount);
  // The camera sits at the lidar origin, so it shares the lidar's translation on the base.
  EXPECT_TRUE((g.cam2base.block<3, 1>(0, 3).isApprox(mount.block<3, 1>(0, 3))));
  EXPECT_TRUE((g.cam2base * g.base2cam).isIdentity(1e-5f));
  EXPECT_TRUE((g.cam2lidar * g.lidar2cam).isIdentity(1e-5f));
  EXPECT_TRUE(g.cam2base.isApprox(mount * g.cam2lidar));
  EXPECT_TRUE(
      (g.cam2base_rotation.toRotationMatrix().isApprox(g.cam2base.block<3, 3>(0, 0), 1e-5f)));
}

TEST(VirtualCameraGeometry, DefaultCameraIntrinsicsFieldsOfViewAndFrustum) {
  const auto g = makeVirtualCameraGeometry(defaultCamera(), lidarMount(0.3f));
  const VirtualCameraParam& p = g.param;
  EXPECT_NEAR(p.h_fov, kPi / 2, 1e-6);
  // Plane through the two edge rays (1, 0, t) and (0, 1, t), t = tan 52 deg: normal (-t, -t, 1).
  const double t = std::tan(52.0 * kPi / 180.0);
  const double v_fov = 2.0 * std::acos(1.0 / std::sqrt(2 * t * t + 1));
  EXPECT_NEAR(p.v_fov, v_fov, 1e-5);
  EXPECT_NEAR(p.v_fov, 2.1321, 1e-4);
  EXPECT_NEAR(p.fx, 640.0, 1e-3);
  EXPECT_NEAR(p.fy, 800.0 / (2.0 * std::tan(v_fov / 2.0)), 1e-2);
  EXPECT_NEAR(p.fy, 220.98, 0.01);
  EXPECT_EQ(p.cx, 640.0);
  EXPECT_EQ(p.cy, 400.0);

  ASSERT_EQ(g.frustum.size(), 8u);
  const float tv = static_cast<float>(std::tan(v_fov / 2));
  const std::vector<std::array<float, 3>> corners{
      {0.3f, 0.3f * tv, 0.3f},   {-0.3f, 0.3f * tv, 0.3f}, {0.3f, -0.3f * tv, 0.3f},
      {-0.3f, -0.3f * tv, 0.3f}, {5.0f, 5.0f * tv, 5.0f},  {-5.0f, 5.0f * tv, 5.0f},
      {5.0f, -5.0f * tv, 5.0f},  {-5.0f, -5.0f * tv, 5.0f}};
  for (size_t i = 0; i < corners.size(); ++i) {
    EXPECT_NEAR(g.frustum[i].x, corners[i][0], 1e-4) << i;
    EXPECT_NEAR(g.frustum[i].y, corners[i][1], 1e-3) << i;
    EXPECT_NEAR(g.frustum[i].z, corners[i][2], 1e-6) << i;
  }
  EXPECT_NEAR(g.frustum[0].y, 0.543, 1e-3);
  EXPECT_NEAR(g.frustum[4].y, 9.051, 1e-3);
}

TEST(VirtualCameraGeometry, CameraInfoMessageAndOddSizes) {
  VirtualCameraConfig config = defaultCamera();
  config.width = 1281;
  config.height = 801;
  const auto g = makeVirtualCameraGeometry(config, lidarMount(0.3f));
  EXPECT_EQ(g.param.cx, 640.0);  // integer halves
  EXPECT_EQ(g.param.cy, 400.0);
  const auto& info = g.info;
  EXPECT_EQ(info.header.frame_id, "virtual_camera0_color_optical_frame");
  EXPECT_EQ(info.width, 1281u);
  EXPECT_EQ(info.height, 801u);
  EXPECT_EQ(info.distortion_model, "");
  EXPECT_EQ(info.d, std::vector<double>(5, 0.0));
  const double fx = g.param.fx;
  const double fy = g.param.fy;
  EXPECT_EQ(info.k, (std::array<double, 9>{fx, 0, 640, 0, fy, 400, 0, 0, 1}));
  EXPECT_EQ(info.r, (std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(info.p, (std::array<double, 12>{fx, 0, 640, 0, 0, fy, 400, 0, 0, 0, 1, 0}));
  EXPECT_EQ(info.binning_x, 1u);
  EXPECT_EQ(info.binning_y, 1u);

  config.horizontal_end_pos = config.horizontal_start_pos;  // not guarded: infinite fx
  EXPECT_EQ(makeVirtualCameraGeometry(config, lidarMount(0.3f)).param.h_fov, 0.0);
  EXPECT_TRUE(std::isinf(makeVirtualCameraGeometry(config, lidarMount(0.3f)).param.fx));
}

TEST(RegionOfInterest, KeepsTheSquareUpToTheHeightLimitMinusTheRobotBody) {
  const RegionOfInterest roi{5.0f, 5.0f, 0.666f, 0.41f, -0.315f, 0.255f};
  struct Case {
    pcl::PointXYZ p;
    bool kept;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<Case> cases{
      {{0.3f, 0.1f, 0.0f}, false},    // on the body, front half
      {{-0.2f, -0.2f, 0.0f}, false},  // on the body, rear half
      {{0.5f, 0.1f, 0.0f}, true},     // ahead of the body
      {{0.0f, 0.1f, 0.0f}, true},     // x exactly 0 is never on the body
      {{-0.4f, 0.1f, 0.0f}, true},    // behind the body
      {{0.3f, 0.3f, 0.0f}, true},     // beside the body
      {{1.0f, 1.0f, 0.7f}, false},    // above the obstacle height limit
      {{1.0f, 1.0f, 0.666f}, true},   // at the limit
      {{5.0f, -5.0f, 0.0f}, true},    // square edges are inside
      {{5.01f, 0.0f, 0.0f}, false},  {{0.0f, -5.01f, 0.0f}, false}, {{nan, 1.0f, 0.0f}, false},
      {{1.0f, inf, 0.0f}, false},    {{1.0f, 1.0f, -inf}, false},
  };
  Cloud all;
  Cloud expected;
  for (const Case& c : cases) {
    EXPECT_EQ(insideRegionOfInterest(c.p, roi), c.kept) << c.p;
    all.push_back(c.p);
    if (c.kept) {
      expected.push_back(c.p);
    }
  }
  // The filtering pass keeps the same points, in order, as one unorganised row, also when the
  // scan is taken in two parts (the second range running past the end).
  Cloud kept;
  const Eigen::Matrix4f identity = Eigen::Matrix4f::Identity();
  const size_t half = all.size() / 2;
  appendTransformedPointsInRegionOfInterest(all, 0, half, identity, roi, kept);
  appendTransformedPointsInRegionOfInterest(all, half, all.size() + 7, identity, roi, kept);
  ASSERT_EQ(kept.size(), expected.size());
  EXPECT_EQ(kept.width, kept.size());
  EXPECT_EQ(kept.height, 1u);
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].x, expected[i].x);
    EXPECT_EQ(kept[i].y, expected[i].y);
  }
}

TEST(RegionOfInterest, IsJudgedOnThePointsMovedIntoTheBaseFrame) {
  const RegionOfInterest roi{5.0f, 5.0f, 0.666f, 0.41f, -0.315f, 0.255f};
  // A lidar 0.5 m up and 4.8 m ahead, turned half a turn about z: what it sees at x = 1 lies at
  // base x 3.8, what it sees at x = -0.3 lies at 5.1 (beyond the square), and a return 0.2 m above
  // it lies at 0.7 m (above the height limit).
  Eigen::Matrix4f mount = Eigen::Matrix4f::Identity();
  mount(0, 0) = -1.0f;
  mount(1, 1) = -1.0f;
  mount(0, 3) = 4.8f;
  mount(2, 3) = 0.5f;
  Cloud scan;
  scan.push_back({1.0f, 0.5f, 0.0f});
  scan.push_back({-0.3f, 0.0f, 0.0f});
  scan.push_back({1.0f, 0.0f, 0.2f});
  scan.push_back({2.0f, -1.0f, -0.4f});
  Cloud kept;
  appendTransformedPointsInRegionOfInterest(scan, 0, scan.size(), mount, roi, kept);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_FLOAT_EQ(kept[0].x, 3.8f);
  EXPECT_FLOAT_EQ(kept[0].y, -0.5f);
  EXPECT_FLOAT_EQ(kept[0].z, 0.5f);
  EXPECT_FLOAT_EQ(kept[1].x, 2.8f);
  EXPECT_FLOAT_EQ(kept[1].y, 1.0f);
  EXPECT_FLOAT_EQ(kept[1].z, 0.1f);
}

TEST(CameraSplit, ImageBoundsAreInclusiveAndPointsBehindAreRejected) {
  // Camera frame equal to the base frame: u = x * fx / z + cx, v = y * fy / z + cy.
  VirtualCameraParam param;
  param.fx = 100.0;
  param.fy = 50.0;
  param.cx = 50.0;
  param.cy = 25.0;
  param.width = 100;
  param.height = 50;
  Cloud in;
  in.push_back({0.5f, 0.0f, 1.0f});    // u = 100 = width: kept
  in.push_back({-0.5f, 0.5f, 1.0f});   // u = 0, v = 50 = height: kept
  in.push_back({0.51f, 0.0f, 1.0f});   // u = 101: out
  in.push_back({0.0f, -0.52f, 1.0f});  // v = -1: out
  in.push_back({0.0f, 0.0f, -1.0f});   // behind the camera
  in.push_back({0.0f, 0.0f, 0.0f});    // zc = 0 is not rejected; u and v are NaN and pass
  const float nan = std::numeric_limits<float>::quiet_NaN();
  in.push_back({nan, 0.0f, 1.0f});  // NaN passes every test when the region filter is off
  Cloud out;
  appendPointsInCamera(in, Eigen::Matrix4f::Identity(), param, out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].x, 0.5f);
  EXPECT_EQ(out[1].x, -0.5f);
  EXPECT_EQ(out[2].z, 0.0f);
  EXPECT_TRUE(std::isnan(out[3].x));

  // Through the default camera: points keep their base coordinates; azimuth 225 is behind it.
  const auto g = makeVirtualCameraGeometry(defaultCamera(), lidarMount(0.3f));
  Cloud base;
  base.push_back({2.0f, 2.0f, 0.3f});    // on the optical axis
  base.push_back({-2.0f, -2.0f, 0.3f});  // behind
  base.push_back({2.0f, 0.1f, 0.2f});    // azimuth ~3 degrees: inside the 0..90 field
  base.push_back({2.0f, -0.2f, 0.2f});   // azimuth ~-6 degrees: outside
  Cloud split;
  appendPointsInCamera(base, g.base2cam, g.param, split);
  ASSERT_EQ(split.size(), 2u);
  EXPECT_EQ(split[0].x, 2.0f);
  EXPECT_EQ(split[0].y, 2.0f);
  EXPECT_EQ(split[1].y, 0.1f);
}

TEST(UpConeRemoval, RemovesTheConeAroundTheLidarsUpAxis) {
  Cloud in;
  in.push_back({0.0f, 0.0f, 1.0f});   // 0 degrees
  in.push_back({1.0f, 0.0f, 1.0f});   // 45
  in.push_back({1.0f, 0.0f, 0.0f});   // 90
  in.push_back({1.0f, 0.0f, -1.0f});  // 135
  in.push_back({0.0f, 0.0f, 0.0f});   // the apex counts as 90
  Cloud kept;
  appendPointsOutsideUpCone(in, Eigen::Matrix4f::Identity(), 60.0f, kept);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].x, 1.0f);
  EXPECT_EQ(kept[0].z, 0.0f);
  EXPECT_EQ(kept[1].z, -1.0f);
  EXPECT_EQ(kept[2].x, 0.0f);

  // Upside down (lidar z along base -z): the cone points down instead.
  Eigen::Matrix4f flipped = Eigen::Matrix4f::Identity();
  flipped.block<3, 3>(0, 0) =
      Eigen::AngleAxisf(static_cast<float>(kPi), Eigen::Vector3f::UnitX()).toRotationMatrix();
  Cloud kept_flipped;
  appendPointsOutsideUpCone(in, flipped, 60.0f, kept_flipped);
  ASSERT_EQ(kept_flipped.size(), 4u);
  EXPECT_EQ(kept_flipped[0].z, 1.0f);  // straight up now stays
  EXPECT_EQ(kept_flipped[1].z, 1.0f);

  // The apex is the lidar origin on the base, not the base origin.
  Cloud mounted_in;
  mounted_in.push_back({0.0f, 0.0f, 1.3f});  // 1 m straight above a lidar mounted at 0.3 m
  mounted_in.push_back({1.0f, 0.0f, 0.3f});  // level with it
  Cloud mounted_kept;
  appendPointsOutsideUpCone(mounted_in, lidarMount(0.3f), 60.0f, mounted_kept);
  ASSERT_EQ(mounted_kept.size(), 1u);
  EXPECT_EQ(mounted_kept[0].x, 1.0f);
}

TEST(UpConeRemoval, KeepsExactlyThePointsFartherOffTheAxisThanTheThreshold) {
  // A tilted mount and random directions, against the angle itself; thresholds beyond the
  // possible angles keep everything (but a NaN angle) or nothing.
  Eigen::Matrix4f mount = lidarMount(0.6f);
  mount.block<3, 3>(0, 0) =
      Eigen::AngleAxisf(0.3f, Eigen::Vector3f(1.0f, 2.0f, 0.0f).normalized()).toRotationMatrix();
  const Eigen::Vector3f apex = mount.block<3, 1>(0, 3);
  const Eigen::Vector3f axis = mount.block<3, 1>(0, 2);
  Cloud in;
  std::uint32_t state = 7u;
  auto uniform = [&state]() {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / static_cast<float>(1u << 24);
  };
  for (int i = 0; i < 5000; ++i) {
    in.push_back({8.0f * uniform() - 4.0f, 8.0f * uniform() - 4.0f, 3.0f * uniform() - 1.0f});
  }
  in.push_back({std::nanf(""), 0.0f, 1.0f});
  for (const float threshold : {10.0f, 45.0f, 60.0f, 120.0f}) {
    Cloud kept;
    appendPointsOutsideUpCone(in, mount, threshold, kept);
    size_t k = 0;
    for (const auto& p : in.points) {
      const Eigen::Vector3f d = p.getVector3fMap() - apex;
      const double angle = std::acos(static_cast<double>(d.normalized().dot(axis))) * 180.0 / kPi;
      // A point within a millidegree of the surface may fall either way.
      if (std::isnan(angle) || std::fabs(angle - threshold) < 1e-3) {
        k += (k < kept.size() && kept[k].x == p.x && kept[k].y == p.y) ? 1 : 0;
        continue;
      }
      if (angle > threshold) {
        ASSERT_LT(k, kept.size());
        EXPECT_EQ(kept[k].x, p.x) << "threshold " << threshold << " angle " << angle;
        ++k;
      }
    }
    EXPECT_EQ(k, kept.size()) << "threshold " << threshold;
  }
  Cloud all;
  appendPointsOutsideUpCone(in, mount, -1.0f, all);
  EXPECT_EQ(all.size(), in.size() - 1);  // all but the NaN point
  Cloud none;
  appendPointsOutsideUpCone(in, mount, 180.0f, none);
  EXPECT_TRUE(none.empty());
}

TEST(CloudTransform, MatchesPclAndKeepsTheLayout) {
  Cloud in;
  in.width = 3;
  in.height = 2;
  in.header.frame_id = "lidar";
  for (int i = 0; i < 6; ++i) {
    in.points.push_back({0.5f * i, 1.0f - i, 0.25f * i * i});
  }
  Eigen::Matrix4f t = Eigen::Matrix4f::Identity();
  t.block<3, 3>(0, 0) =
      Eigen::AngleAxisf(0.7f, Eigen::Vector3f(0.2f, -1.0f, 0.5f).normalized()).toRotationMatrix();
  t.block<3, 1>(0, 3) = Eigen::Vector3f(0.1f, -0.2f, 0.45f);
  Cloud out;
  out.points.resize(17);  // stale content is replaced
  transformCloud(in, t, out);
  ASSERT_EQ(out.size(), in.size());
  EXPECT_EQ(out.width, 3u);
  EXPECT_EQ(out.height, 2u);
  EXPECT_EQ(out.header.frame_id, "lidar");
  for (size_t i = 0; i < in.size(); ++i) {
    const Eigen::Vector4f expected = t * Eigen::Vector4f(in[i].x, in[i].y, in[i].z, 1.0f);
    EXPECT_NEAR(out[i].x, expected.x(), 1e-5f);
    EXPECT_NEAR(out[i].y, expected.y(), 1e-5f);
    EXPECT_NEAR(out[i].z, expected.z(), 1e-5f);
  }
}

std::shared_ptr<Cloud> cloudOf(size_t n) {
  auto cloud = std::make_shared<Cloud>();
  for (size_t i = 0; i < n; ++i) {
    cloud->push_back({static_cast<float>(i), 0.0f, 0.0f});
  }
  return cloud;
}

TEST(DynamicShareRule, WholeClusterOrPerPointSplitByStrictThresholds) {
  struct Case {
    size_t cluster_points;
    size_t dynamic_points;
    enum { kDynamic, kStatic, kSplit } expected;
  };
  const std::vector<Case> cases{{10, 8, Case::kDynamic}, {10, 2, Case::kStatic},
                                {10, 5, Case::kSplit},   {10, 7, Case::kSplit},
                                {10, 3, Case::kSplit},   {0, 0, Case::kSplit}};
  for (const Case& c : cases) {
    auto cluster = cloudOf(c.cluster_points);
    auto dynamic_part = cloudOf(c.dynamic_points);
    auto static_part = cloudOf(c.cluster_points - c.dynamic_points);
    std::vector<std::shared_ptr<Cloud>> dynamic_list;
    std::vector<std::shared_ptr<Cloud>> static_list;
    sortClusterByDynamicShare(cluster, dynamic_part, static_part, 0.7f, 0.3f, dynamic_list,
                              static_list);
    SCOPED_TRACE(testing::Message() << c.dynamic_points << " of " << c.cluster_points);
    switch (c.expected) {
      case Case::kDynamic:
        ASSERT_EQ(dynamic_list.size(), 1u);
        EXPECT_EQ(dynamic_list[0], cluster);  // the cluster itself, not a copy
        EXPECT_TRUE(static_list.empty());
        break;
      case Case::kStatic:
        ASSERT_EQ(static_list.size(), 1u);
        EXPECT_EQ(static_list[0], cluster);
        EXPECT_TRUE(dynamic_list.empty());
        break;
      case Case::kSplit:
        ASSERT_EQ(dynamic_list.size(), 1u);
        ASSERT_EQ(static_list.size(), 1u);
        EXPECT_EQ(dynamic_list[0], dynamic_part);
        EXPECT_EQ(static_list[0], static_part);
        break;
    }
  }
}

}  // namespace
}  // namespace lidar_perception
