#include <norvel/perception/cloud_cluster.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

namespace {

using norvel::perception::CloudCluster;
using norvel::perception::CloudClusterPara;
using norvel::perception::PointCloud;
using norvel::perception::PointCloudPtr;

PointCloudPtr cloudOf(const std::vector<pcl::PointXYZ>& points) {
  auto cloud = std::make_shared<PointCloud>();
  cloud->points.assign(points.begin(), points.end());
  return cloud;
}

// Cluster sizes in output order.
std::vector<std::size_t> clusterSizes(const CloudClusterPara& para, const PointCloudPtr& cloud) {
  CloudCluster clusterer(para);
  std::vector<PointCloudPtr> clusters;
  int count = -1;
  clusterer.obstacleCluster(cloud, count, clusters);
  EXPECT_EQ(count, static_cast<int>(clusters.size()));
  std::vector<std::size_t> sizes;
  for (const auto& c : clusters) {
    sizes.push_back(c->size());
  }
  return sizes;
}

// Three points around the given spot, all within one 0.15 m cell of the grid anchored at (0, 0).
void addBlob(std::vector<pcl::PointXYZ>& points, float x, float y, int n = 3) {
  for (int i = 0; i < n; ++i) {
    points.emplace_back(x + 0.01F * i, y + 0.01F * i, 0.1F * i);
  }
}

TEST(CloudCluster, JoinsCellsWithinTheKernel) {
  // Blob A in cell (0, 0), blob B three cells further in x (0.5 m / 0.15 m = 3.3), blob C
  // diagonally next to A in cell (1, 1).
  std::vector<pcl::PointXYZ> points;
  addBlob(points, 0.0F, 0.0F);
  addBlob(points, 0.5F, 0.0F);
  addBlob(points, 0.16F, 0.16F);
  const auto cloud = cloudOf(points);
  EXPECT_EQ(clusterSizes({0.15F, 1, 1}, cloud), (std::vector<std::size_t>{3, 3, 3}));
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloud), (std::vector<std::size_t>{6, 3}));
  EXPECT_EQ(clusterSizes({0.15F, 5, 1}, cloud),
            (std::vector<std::size_t>{9}));  // B and C 2 cells apart
  EXPECT_EQ(clusterSizes({0.15F, 7, 1}, cloud), (std::vector<std::size_t>{9}));
  EXPECT_EQ(clusterSizes({0.6F, 1, 1}, cloud), (std::vector<std::size_t>{9}));
}

TEST(CloudCluster, DropsSmallClustersAndKeepsInputOrder) {
  std::vector<pcl::PointXYZ> points;
  addBlob(points, 2.0F, 2.0F, 2);  // first in the input, two points
  addBlob(points, 0.0F, 0.0F, 4);
  addBlob(points, 1.0F, 0.0F, 3);
  points.emplace_back(2.01F, 2.0F, 1.5F);  // joins the first blob, whatever its height
  const auto cloud = cloudOf(points);
  EXPECT_EQ(clusterSizes({0.15F, 3, 3}, cloud), (std::vector<std::size_t>{3, 4, 3}));
  EXPECT_EQ(clusterSizes({0.15F, 3, 4}, cloud), (std::vector<std::size_t>{4}));

  CloudCluster clusterer({0.15F, 3, 1});
  std::vector<PointCloudPtr> clusters;
  int count = 0;
  clusterer.obstacleCluster(cloud, count, clusters);
  ASSERT_EQ(clusters.size(), 3U);
  EXPECT_FLOAT_EQ(clusters[0]->points[0].x, 2.0F);
  EXPECT_FLOAT_EQ(clusters[0]->points[2].z, 1.5F) << "points keep their input order";
  EXPECT_FLOAT_EQ(clusters[1]->points[0].x, 0.0F);
}

TEST(CloudCluster, MatchesBruteForceComponentsOnDenseAndWideClouds) {
  // Reference: connected components by comparing every pair of points' cells.
  auto reference = [](const std::vector<pcl::PointXYZ>& pts, float step, int reach) {
    float min_x = std::numeric_limits<float>::max();
    float min_y = std::numeric_limits<float>::max();
    for (const auto& p : pts) {
      min_x = std::min(min_x, p.x);
      min_y = std::min(min_y, p.y);
    }
    const std::size_t n = pts.size();
    std::vector<int> label(n, -1);
    int next = 0;
    for (std::size_t s = 0; s < n; ++s) {
      if (label[s] >= 0)
        continue;
      std::vector<std::size_t> stack{s};
      label[s] = next;
      while (!stack.empty()) {
        const std::size_t i = stack.back();
        stack.pop_back();
        const auto ci = static_cast<long>(std::floor((double(pts[i].x) - min_x) / step));
        const auto ri = static_cast<long>(std::floor((double(pts[i].y) - min_y) / step));
        for (std::size_t j = 0; j < n; ++j) {
          const auto cj = static_cast<long>(std::floor((double(pts[j].x) - min_x) / step));
          const auto rj = static_cast<long>(std::floor((double(pts[j].y) - min_y) / step));
          if (label[j] < 0 && std::labs(ci - cj) <= reach && std::labs(ri - rj) <= reach) {
            label[j] = next;
            stack.push_back(j);
          }
        }
      }
      ++next;
    }
    std::vector<std::size_t> sizes(next, 0);
    for (int l : label)
      ++sizes[l];
    return sizes;  // labelled in order of first point, like the clusterer
  };
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> coord(-3.0F, 3.0F);
  std::vector<pcl::PointXYZ> points;
  for (int i = 0; i < 600; ++i) {
    points.emplace_back(coord(rng), coord(rng), 0.0F);
  }
  for (int kernel : {1, 3, 5}) {
    SCOPED_TRACE(kernel);
    EXPECT_EQ(clusterSizes({0.15F, kernel, 1}, cloudOf(points)),
              reference(points, 0.15F, kernel / 2));
  }
  // Spread over 100 km the dense grid would be too large; the result must not change.
  auto wide = points;
  wide.emplace_back(1.0e5F, 1.0e5F, 0.0F);
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(wide)), reference(wide, 0.15F, 1));
}

TEST(CloudCluster, HandlesDegenerateInputAndSettings) {
  CloudCluster clusterer({0.15F, 3, 3});
  std::vector<PointCloudPtr> clusters;
  int count = 5;
  clusterer.obstacleCluster(nullptr, count, clusters);
  EXPECT_EQ(count, 0);
  clusterer.obstacleCluster(std::make_shared<PointCloud>(), count, clusters);
  EXPECT_EQ(count, 0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<pcl::PointXYZ> points = {{nan, 0, 0}, {0, nan, 0}, {0, 0, nan}};
  clusterer.obstacleCluster(cloudOf(points), count, clusters);
  EXPECT_EQ(count, 0);
  addBlob(points, 1.0F, 1.0F);
  clusterer.obstacleCluster(cloudOf(points), count, clusters);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(clusters.size(), 1U);
  EXPECT_EQ(clusters[0]->size(), 3U);

  EXPECT_THROW(CloudCluster({0.0F, 3, 3}), std::invalid_argument);
  EXPECT_THROW(CloudCluster({std::nanf(""), 3, 3}), std::invalid_argument);
  EXPECT_THROW(CloudCluster({0.15F, 0, 3}), std::invalid_argument);
}

}  // namespace
