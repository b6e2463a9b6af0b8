// Box markers: the DELETEALL marker first, then one green line list per box whose 24 points are
// the 12 edges of the box, corners worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "box_markers.hpp"

namespace lidar_perception {
namespace {

using trelvon::BBox;
using visualization_msgs::msg::Marker;

void expectPoint(const geometry_msgs::msg::Point& p, double x, double y, double z) {
  EXPECT_NEAR(p.x, x, 1e-6);
  EXPECT_NEAR(p.y, y, 1e-6);
  EXPECT_NEAR(p.z, z, 1e-6);
}

TEST(BoxMarkers, NoBoxesGiveOnlyTheDeleteAllMarker) {
  rclcpp::Clock clock(RCL_SYSTEM_TIME);
  const auto markers = makeBoxMarkers({}, "base_footprint", clock);
  ASSERT_EQ(markers.markers.size(), 1u);
  const Marker& clear = markers.markers[0];
  EXPECT_EQ(clear.action, 3);
  // Everything else stays at its default.
  Marker defaults;
  defaults.action = 3;
  EXPECT_EQ(clear, defaults);
}

TEST(BoxMarkers, EachBoxIsALineListOfItsTwelveEdges) {
  rclcpp::Clock clock(RCL_SYSTEM_TIME);
  const rclcpp::Time before = clock.now();
  // Width 2 along the heading (yaw 0: along x), length 1 across, bottom at 0.2, 1.5 tall.
  const std::vector<BBox> boxes{{0.0f, 0.0f, 0.2f, 1.0f, 2.0f, 1.5f, 0.0f, 0, 0.8f},
                                {5.0f, 1.0f, 0.0f, 1.0f, 2.0f, 1.0f, 1.5707963f, 2, 0.6f}};
  const auto markers = makeBoxMarkers(boxes, "base_link", clock);
  ASSERT_EQ(markers.markers.size(), 3u);
  EXPECT_EQ(markers.markers[0].action, Marker::DELETEALL);

  for (size_t k = 0; k < 2; ++k) {
    const Marker& m = markers.markers[k + 1];
    EXPECT_EQ(m.header.frame_id, "base_link");
    EXPECT_GE(rclcpp::Time(m.header.stamp, RCL_SYSTEM_TIME).nanoseconds(), before.nanoseconds());
    EXPECT_EQ(m.ns, "bounding_boxes");
    EXPECT_EQ(m.id, static_cast<int32_t>(k));
    EXPECT_EQ(m.type, 5);
    EXPECT_EQ(m.action, 0);
    EXPECT_EQ(m.pose, geometry_msgs::msg::Pose());
    EXPECT_DOUBLE_EQ(m.scale.x, 0.05);
    EXPECT_EQ(m.color.r, 0.0f);
    EXPECT_EQ(m.color.g, 1.0f);
    EXPECT_EQ(m.color.b, 0.0f);
    EXPECT_EQ(m.color.a, 1.0f);
    EXPECT_EQ(m.lifetime.sec, 0);
    EXPECT_EQ(m.lifetime.nanosec, 100000000u);
    ASSERT_EQ(m.points.size(), 24u);
  }

  // First box: A (-1, -0.5), B (1, -0.5), C (1, 0.5), D (-1, 0.5); bottom 0.2, top 1.7.
  const double corners[4][2] = {{-1.0, -0.5}, {1.0, -0.5}, {1.0, 0.5}, {-1.0, 0.5}};
  const auto& p = markers.markers[1].points;
  for (int ring = 0; ring < 2; ++ring) {
    const double z = ring == 0 ? 0.2 : 1.7;
    for (int j = 0; j < 4; ++j) {
      const int next = (j + 1) % 4;
      expectPoint(p[static_cast<size_t>(ring * 8 + 2 * j)], corners[j][0], corners[j][1], z);
      expectPoint(p[static_cast<size_t>(ring * 8 + 2 * j + 1)], corners[next][0], corners[next][1],
                  z);
    }
  }
  for (int j = 0; j < 4; ++j) {
    expectPoint(p[static_cast<size_t>(16 + 2 * j)], corners[j][0], corners[j][1], 0.2);
    expectPoint(p[static_cast<size_t>(17 + 2 * j)], corners[j][0], corners[j][1], 1.7);
  }

  // Second box turned a quarter: A (5.5, 0), B (5.5, 2), C (4.5, 2), D (4.5, 0).
  const auto& q = markers.markers[2].points;
  expectPoint(q[0], 5.5, 0.0, 0.0);
  expectPoint(q[1], 5.5, 2.0, 0.0);
  expectPoint(q[3], 4.5, 2.0, 0.0);
  expectPoint(q[5], 4.5, 0.0, 0.0);
  expectPoint(q[23], 4.5, 0.0, 1.0);
}

TEST(BoxMarkers, IdsRestartForEveryFrame) {
  rclcpp::Clock clock(RCL_SYSTEM_TIME);
  const std::vector<BBox> boxes{{0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0, 0.5f}};
  makeBoxMarkers(boxes, "base_footprint", clock);
  const auto second = makeBoxMarkers(boxes, "base_footprint", clock);
  ASSERT_EQ(second.markers.size(), 2u);
  EXPECT_EQ(second.markers[1].id, 0);
}

}  // namespace
}  // namespace lidar_perception
