#include <norvel/perception/moving_body_split.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

using norvel::perception::ClusterPart;
using norvel::perception::MovingBodySettings;
using norvel::perception::PointCloud;
using norvel::perception::separateMovingBodies;

// Points filling a box on a 5 cm grid, heights 0 to 0.6 m.
std::vector<pcl::PointXYZ> boxPoints(float x0, float x1, float y0, float y1) {
  std::vector<pcl::PointXYZ> points;
  for (float x = x0; x <= x1 + 1e-4F; x += 0.05F) {
    for (float y = y0; y <= y1 + 1e-4F; y += 0.05F) {
      for (float z = 0.0F; z <= 0.6F + 1e-4F; z += 0.1F) {
        points.emplace_back(x, y, z);
      }
    }
  }
  return points;
}

// A cluster made of `pieces` in turns, one point of each piece at a time (so that the pieces'
// points interleave), and its moved points: those of the pieces flagged moving, and every
// `scatter`-th point of the others (0: none).
struct Scene {
  PointCloud cluster;
  PointCloud moved;
  std::vector<bool> is_moving;
};

Scene interleave(const std::vector<std::vector<pcl::PointXYZ>>& pieces,
                 const std::vector<bool>& moving, std::size_t scatter) {
  Scene scene;
  std::size_t longest = 0;
  for (const auto& piece : pieces) {
    longest = std::max(longest, piece.size());
  }
  std::size_t counter = 0;
  for (std::size_t i = 0; i < longest; ++i) {
    for (std::size_t k = 0; k < pieces.size(); ++k) {
      if (i >= pieces[k].size()) {
        continue;
      }
      const pcl::PointXYZ& p = pieces[k][i];
      scene.cluster.points.push_back(p);
      const bool moved = moving[k] || (scatter > 0 && ++counter % scatter == 0);
      scene.is_moving.push_back(moving[k]);
      if (moved) {
        scene.moved.points.push_back(p);
      }
    }
  }
  return scene;
}

bool contains(const PointCloud& cloud, const pcl::PointXYZ& p) {
  for (const auto& q : cloud.points) {
    if (q.x == p.x && q.y == p.y && q.z == p.z) {
      return true;
    }
  }
  return false;
}

TEST(MovingBodySplit, TakesAWalkerOutOfTheWallBesideThemAndNothingElse) {
  // A 3 m wall along y = 1 and a walker 15 cm in front of it: only the walker's points moved.
  const auto wall = boxPoints(0.0F, 3.0F, 1.0F, 1.05F);
  const auto walker = boxPoints(1.4F, 1.8F, 0.6F, 0.85F);
  const Scene scene = interleave({wall, walker}, {false, true}, 0);
  const std::vector<ClusterPart> parts =
      separateMovingBodies(scene.cluster, scene.moved, MovingBodySettings{});
  ASSERT_EQ(parts.size(), 2U);
  const ClusterPart& body = parts[0];
  const ClusterPart& rest = parts[1];
  EXPECT_EQ(body.cluster->size(), walker.size());
  EXPECT_EQ(body.dynamic_part->size(), walker.size());
  EXPECT_TRUE(body.static_part->empty());
  EXPECT_EQ(rest.cluster->size(), wall.size());
  EXPECT_TRUE(rest.dynamic_part->empty());
  // Every point lands in exactly one part, in the cluster's order within each.
  std::size_t next_body = 0;
  std::size_t next_rest = 0;
  for (std::size_t i = 0; i < scene.cluster.size(); ++i) {
    const pcl::PointXYZ& p = scene.cluster.points[i];
    const PointCloud& target = scene.is_moving[i] ? *body.cluster : *rest.cluster;
    std::size_t& next = scene.is_moving[i] ? next_body : next_rest;
    ASSERT_LT(next, target.size());
    EXPECT_EQ(target.points[next].x, p.x);
    EXPECT_EQ(target.points[next].y, p.y);
    EXPECT_EQ(target.points[next].z, p.z);
    ++next;
  }
  EXPECT_EQ(body.cluster->width, body.cluster->size());
  EXPECT_EQ(rest.static_part->width, rest.static_part->size());
}

TEST(MovingBodySplit, LeavesScatteredLargeSparseAndMixedMotionInTheCluster) {
  const auto wall = boxPoints(0.0F, 3.0F, 1.0F, 1.05F);
  {
    SCOPED_TRACE("every third wall point moved: one wall-long group");
    const Scene scene = interleave({wall}, {false}, 3);
    EXPECT_TRUE(separateMovingBodies(scene.cluster, scene.moved, MovingBodySettings{}).empty());
  }
  {
    SCOPED_TRACE("a moved patch wider than a body");
    const auto cart = boxPoints(1.0F, 2.3F, 0.5F, 0.8F);
    const Scene scene = interleave({wall, cart}, {false, true}, 0);
    EXPECT_TRUE(separateMovingBodies(scene.cluster, scene.moved, MovingBodySettings{}).empty());
  }
  {
    SCOPED_TRACE("too few moved points to be a body");
    const auto hand = boxPoints(1.4F, 1.45F, 0.6F, 0.65F);
    ASSERT_LT(hand.size(), MovingBodySettings{}.min_points);
    const Scene scene = interleave({wall, hand}, {false, true}, 0);
    EXPECT_TRUE(separateMovingBodies(scene.cluster, scene.moved, MovingBodySettings{}).empty());
  }
  {
    SCOPED_TRACE("a walker pressed against the wall: a third of their box is wall");
    const auto walker = boxPoints(1.4F, 1.8F, 0.87F, 0.97F);
    const Scene scene = interleave({wall, walker}, {false, true}, 0);
    EXPECT_TRUE(separateMovingBodies(scene.cluster, scene.moved, MovingBodySettings{}).empty());
  }
}

TEST(MovingBodySplit, TwoWalkersBesideABenchBecomeTwoParts) {
  const auto bench = boxPoints(0.0F, 1.6F, 1.0F, 1.4F);
  const auto first = boxPoints(0.1F, 0.4F, 0.6F, 0.85F);
  const auto second = boxPoints(1.1F, 1.4F, 0.6F, 0.85F);
  const Scene scene = interleave({bench, first, second}, {false, true, true}, 0);
  const std::vector<ClusterPart> parts =
      separateMovingBodies(scene.cluster, scene.moved, MovingBodySettings{});
  ASSERT_EQ(parts.size(), 3U);
  EXPECT_EQ(parts[0].cluster->size(), first.size());
  EXPECT_TRUE(contains(*parts[0].cluster, first.front()));
  EXPECT_EQ(parts[1].cluster->size(), second.size());
  EXPECT_TRUE(contains(*parts[1].cluster, second.front()));
  EXPECT_EQ(parts[2].cluster->size(), bench.size());
  EXPECT_TRUE(parts[2].dynamic_part->empty());
}

}  // namespace
