// Box footprints, the crossing-number test and the promotion of static clusters inside boxes.
// Expected corners are worked out by hand; inside/outside is checked against a second method
// (the point rotated into the box's own axes).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "box_footprint.hpp"
#include "post_fusion.hpp"

namespace lidar_perception {
namespace {

using trelvon::BBox;
using Cloud = pcl::PointCloud<pcl::PointXYZ>;

constexpr float kHalfPi = 1.5707963267948966f;

BBox makeBox(float x, float y, float length, float width, float yaw) {
  return BBox{x, y, 0.0f, length, width, 1.7f, yaw, 0, 0.9f};
}

void expectCorner(const FootprintCorner& corner, float x, float y) {
  EXPECT_NEAR(corner.x, x, 1e-6f);
  EXPECT_NEAR(corner.y, y, 1e-6f);
}

// `inside` points in the box at (0, 0) with half extents (0.5, 0.5) ... the first `inside` points
// lie in the unit square around the origin, the others 10 m away.
std::shared_ptr<Cloud> clusterWith(int inside, int total, float height = 0.3f) {
  auto cloud = std::make_shared<Cloud>();
  for (int i = 0; i < total; ++i) {
    const float offset = 0.05f * static_cast<float>(i % 5);
    if (i < inside) {
      cloud->push_back({-0.2f + offset, 0.1f, height});
    } else {
      cloud->push_back({10.0f + offset, 10.0f, height});
    }
  }
  return cloud;
}

TEST(BoxFootprint, WidthRunsAlongTheHeadingAndLengthAcrossIt) {
  {
    const BoxFootprint f = boxFootprint(makeBox(0.0f, 0.0f, 1.0f, 2.0f, 0.0f));
    expectCorner(f[0], -1.0f, -0.5f);
    expectCorner(f[1], 1.0f, -0.5f);
    expectCorner(f[2], 1.0f, 0.5f);
    expectCorner(f[3], -1.0f, 0.5f);
  }
  {
    const BoxFootprint f = boxFootprint(makeBox(0.0f, 0.0f, 1.0f, 2.0f, kHalfPi));
    expectCorner(f[0], 0.5f, -1.0f);
    expectCorner(f[1], 0.5f, 1.0f);
    expectCorner(f[2], -0.5f, 1.0f);
    expectCorner(f[3], -0.5f, -1.0f);
  }
  {
    // Shifted centre, yaw pi: corners mirror through (3, -2).
    const BoxFootprint f = boxFootprint(makeBox(3.0f, -2.0f, 0.8f, 0.6f, 2.0f * kHalfPi));
    expectCorner(f[0], 3.3f, -1.6f);
    expectCorner(f[1], 2.7f, -1.6f);
    expectCorner(f[2], 2.7f, -2.4f);
    expectCorner(f[3], 3.3f, -2.4f);
  }
}

TEST(BoxFootprint, CrossingNumberAgreesWithTheBoxFrameTest) {
  std::mt19937 generator(11);
  std::uniform_real_distribution<float> coordinate(-3.0f, 3.0f);
  std::uniform_real_distribution<float> angle(-3.2f, 3.2f);
  std::uniform_real_distribution<float> size(0.3f, 2.5f);
  int inside_count = 0;
  int compared = 0;
  for (int b = 0; b < 50; ++b) {
    const BBox box = makeBox(coordinate(generator) * 0.3f, coordinate(generator) * 0.3f,
                             size(generator), size(generator), angle(generator));
    const BoxFootprint footprint = boxFootprint(box);
    const double c = std::cos(static_cast<double>(box.yaw));
    const double s = std::sin(static_cast<double>(box.yaw));
    for (int i = 0; i < 200; ++i) {
      const float px = coordinate(generator);
      const float py = coordinate(generator);
      // Rotate into the box's axes: u along the heading (width), v across it (length).
      const double dx = px - box.x;
      const double dy = py - box.y;
      const double u = c * dx + s * dy;
      const double v = -s * dx + c * dy;
      const double margin_u = box.width / 2.0 - std::fabs(u);
      const double margin_v = box.length / 2.0 - std::fabs(v);
      if (std::fabs(margin_u) < 1e-3 || std::fabs(margin_v) < 1e-3) {
        continue;  // too close to an edge for float rounding to agree
      }
      const bool expected = margin_u > 0.0 && margin_v > 0.0;
      EXPECT_EQ(insideFootprint(footprint, px, py), expected)
          << "box " << b << " point (" << px << ", " << py << ")";
      inside_count += expected ? 1 : 0;
      ++compared;
    }
  }
  EXPECT_GT(inside_count, 100);
  EXPECT_GT(compared - inside_count, 100);
}

TEST(BoxFootprint, EdgesCountAsTheFormulaTakesThem) {
  const BoxFootprint f = boxFootprint(makeBox(0.0f, 0.0f, 1.0f, 2.0f, 0.0f));
  // Left edge x = -1 (D to A going down): px < -1 fails for px = -1, the right edge x = 1
  // crosses, so the point on the left edge is inside; the one on the right edge is not.
  EXPECT_TRUE(insideFootprint(f, -1.0f, 0.0f));
  EXPECT_FALSE(insideFootprint(f, 1.0f, 0.0f));
  // Bottom edge y = -0.5: (A.y > -0.5) == (B.y > -0.5), no horizontal edge ever crosses; the
  // vertical edges see -0.5 > -0.5 false at A and B and true at C and D, so y = -0.5 is inside,
  // y = 0.5 is not.
  EXPECT_TRUE(insideFootprint(f, 0.0f, -0.5f));
  EXPECT_FALSE(insideFootprint(f, 0.0f, 0.5f));
}

TEST(PostFusion, MoreThanTheThresholdShareMovesTheCluster) {
  const std::vector<BBox> boxes{makeBox(0.0f, 0.0f, 1.0f, 1.0f, 0.0f)};
  for (const int inside : {7, 8}) {
    auto cluster = clusterWith(inside, 10);
    std::vector<ClusterList> dynamic_clusters(1);
    std::vector<ClusterList> static_clusters{{cluster}};
    promoteClustersInBoxes(boxes, 0.7f, 1, dynamic_clusters, static_clusters);
    if (inside == 7) {
      // 7 is not greater than 10 x 0.7.
      EXPECT_TRUE(dynamic_clusters[0].empty());
      ASSERT_EQ(static_clusters[0].size(), 1u);
    } else {
      ASSERT_EQ(dynamic_clusters[0].size(), 1u);
      EXPECT_EQ(dynamic_clusters[0][0], cluster);
      EXPECT_TRUE(static_clusters[0].empty());
    }
  }
}

TEST(PostFusion, ThresholdZeroMovesAnyClusterWithAPointInsideButNeverAnEmptyOne) {
  const std::vector<BBox> boxes{makeBox(0.0f, 0.0f, 1.0f, 1.0f, 0.0f)};
  auto one_inside = clusterWith(1, 50);
  auto none_inside = clusterWith(0, 50);
  auto empty = std::make_shared<Cloud>();
  std::vector<ClusterList> dynamic_clusters(1);
  std::vector<ClusterList> static_clusters{{none_inside, one_inside, empty}};
  promoteClustersInBoxes(boxes, 0.0f, 1, dynamic_clusters, static_clusters);
  EXPECT_EQ(dynamic_clusters[0], (ClusterList{one_inside}));
  EXPECT_EQ(static_clusters[0], (ClusterList{none_inside, empty}));
}

TEST(PostFusion, MatchingClustersGoToTheEndOfTheDynamicListInTheirOrder) {
  const std::vector<BBox> boxes{makeBox(0.0f, 0.0f, 1.0f, 1.0f, 0.0f),
                                makeBox(0.0f, 0.0f, 3.0f, 3.0f, 0.0f)};
  auto already_dynamic = clusterWith(0, 3);
  auto a = clusterWith(10, 10);  // inside both boxes: moved once
  auto b = clusterWith(9, 10);
  auto stays = clusterWith(2, 10);
  auto c = clusterWith(10, 10);
  std::vector<ClusterList> dynamic_clusters{{already_dynamic}};
  std::vector<ClusterList> static_clusters{{a, b, stays, c}};
  promoteClustersInBoxes(boxes, 0.7f, 1, dynamic_clusters, static_clusters);
  EXPECT_EQ(dynamic_clusters[0], (ClusterList{already_dynamic, a, b, c}));
  EXPECT_EQ(static_clusters[0], (ClusterList{stays}));
}

TEST(PostFusion, HeightsPlayNoPartAndCamerasAreFusedSeparately) {
  // A box 1.7 m tall with its bottom at 0; the cluster floats at 5 m.
  const std::vector<BBox> boxes{makeBox(0.0f, 0.0f, 1.0f, 1.0f, 0.0f)};
  auto high = clusterWith(10, 10, 5.0f);
  auto far = clusterWith(0, 10);
  std::vector<ClusterList> dynamic_clusters(2);
  std::vector<ClusterList> static_clusters{{far}, {high}};
  promoteClustersInBoxes(boxes, 0.7f, 2, dynamic_clusters, static_clusters);
  EXPECT_TRUE(dynamic_clusters[0].empty());
  EXPECT_EQ(static_clusters[0], (ClusterList{far}));
  EXPECT_EQ(dynamic_clusters[1], (ClusterList{high}));
  EXPECT_TRUE(static_clusters[1].empty());
}

TEST(PostFusion, WithoutBoxesTheListsStayAsTheyAre) {
  auto cluster = clusterWith(10, 10);
  std::vector<ClusterList> dynamic_clusters(1);
  std::vector<ClusterList> static_clusters{{cluster}};
  promoteClustersInBoxes({}, 0.7f, 1, dynamic_clusters, static_clusters);
  EXPECT_TRUE(dynamic_clusters[0].empty());
  EXPECT_EQ(static_clusters[0], (ClusterList{cluster}));
}

TEST(PostFusion, ListsShorterThanTheCameraCountAreRejected) {
  std::vector<ClusterList> dynamic_clusters;
  std::vector<ClusterList> static_clusters;
  EXPECT_THROW(promoteClustersInBoxes({makeBox(0.0f, 0.0f, 1.0f, 1.0f, 0.0f)}, 0.7f, 1,
                                      dynamic_clusters, static_clusters),
               std::out_of_range);
}

}  // namespace
}  // namespace lidar_perception
