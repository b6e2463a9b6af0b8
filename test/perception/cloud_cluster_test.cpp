#include <norvel/perception/cloud_cluster.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>
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

TEST(CloudCluster, KeepsAWalkerApartFromTheWallBesideIt) {
  // A wall along x, and 0.25 m from its face a walker's two legs 0.17 m apart: both gaps are
  // wider than the 0.15 m cell and inside the 3 x 3 kernel's reach, but only the legs belong
  // together.
  std::vector<pcl::PointXYZ> wall;
  for (int i = 0; i <= 150; ++i) {
    for (float z : {0.1F, 0.3F, 0.5F}) {
      wall.emplace_back(-1.0F + 0.02F * i, 1.0F, z);
    }
  }
  std::vector<pcl::PointXYZ> legs;
  for (float leg_x : {0.0F, 0.27F}) {
    for (int i = 0; i < 6; ++i) {
      legs.emplace_back(leg_x + 0.02F * i, 0.75F - 0.01F * (i % 3), 0.1F * i);
    }
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(legs)), (std::vector<std::size_t>{12}))
      << "the legs alone form one cluster";
  auto scene = wall;
  scene.insert(scene.end(), legs.begin(), legs.end());
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(scene)),
            (std::vector<std::size_t>{wall.size(), legs.size()}));
  // Legs within the nominal gap (0.15 m) of the wall, 8-10 cm in front of its face, join it in
  // the first round; being off the wall's line on the side the robot looks from, they are taken
  // out of it again. A few stray returns there (below 10 points) are not.
  auto hugging = scene;
  for (float leg_x : {1.2F, 1.45F}) {
    for (int i = 0; i < 12; ++i) {
      hugging.emplace_back(leg_x + 0.01F * (i % 4), 0.9F - 0.005F * (i % 4), 0.05F * i);
    }
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(hugging)),
            (std::vector<std::size_t>{wall.size(), legs.size(), 24}));
  auto stray = scene;
  for (int i = 0; i < 6; ++i) {
    stray.emplace_back(1.2F, 0.9F, 0.1F * i);
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(stray)),
            (std::vector<std::size_t>{wall.size() + 6, legs.size()}));
  // Structure going on from the wall stays with it: the next wall round a corner on the robot's
  // side, and a door recess behind the wall's line.
  auto corner = wall;
  auto recess = wall;
  for (int i = 1; i <= 50; ++i) {
    for (float z : {0.1F, 0.3F, 0.5F}) {
      corner.emplace_back(2.0F, 1.0F - 0.02F * i, z);
    }
  }
  for (int i = 1; i <= 15; ++i) {
    for (float z : {0.1F, 0.3F, 0.5F}) {
      recess.emplace_back(0.5F, 1.0F + 0.02F * i, z);
    }
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(corner)),
            (std::vector<std::size_t>{corner.size()}));
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(recess)),
            (std::vector<std::size_t>{recess.size()}));
  // Two long wall pieces 0.24 m apart (behind a post, a leg's shadow) stay one.
  std::vector<pcl::PointXYZ> split_wall;
  for (const auto& p : wall) {
    if (std::fabs(p.x - 0.5F) > 0.11F) {
      split_wall.push_back(p);
    }
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(split_wall)),
            (std::vector<std::size_t>{split_wall.size()}));
  // A short stretch of the same wall beyond a 0.22 m gap (between two shadows) lies on the long
  // piece's line and joins it; the same stretch 0.25 m out from that line is something else.
  std::vector<pcl::PointXYZ> wall_and_stretch;
  for (const auto& p : wall) {
    if (p.x < 1.91F) {
      wall_and_stretch.push_back(p);
    }
  }
  const std::size_t long_piece = wall_and_stretch.size();
  auto wall_and_offset = wall_and_stretch;
  for (int i = 0; i < 20; ++i) {
    for (float z : {0.1F, 0.3F}) {
      wall_and_stretch.emplace_back(2.12F + 0.02F * i, 1.0F, z);
      wall_and_offset.emplace_back(2.12F + 0.02F * i, 0.75F, z);
    }
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(wall_and_stretch)),
            (std::vector<std::size_t>{wall_and_stretch.size()}));
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(wall_and_offset)),
            (std::vector<std::size_t>{long_piece, 40}));
}

// A leg seen from the side: points on a 0.12 m wide arc around (x, y) facing -y, at six heights.
void addLeg(std::vector<pcl::PointXYZ>& points, float x, float y) {
  for (int i = 0; i < 6; ++i) {
    for (int k = 0; k < 6; ++k) {
      points.emplace_back(x - 0.06F + 0.024F * k, y - 0.05F + 0.008F * std::abs(k - 3),
                          0.05F + 0.1F * i);
    }
  }
}

TEST(CloudCluster, JoinsAPersonsLegsBeyondTheKernelButNotTwoPeople) {
  // Legs 0.12 m wide with 0.19 m between them, placed so that a whole empty cell of the grid
  // (anchored at the first leg's edge, x = 0) lies between them: the 3 x 3 kernel does not join
  // them, yet they are one person.
  std::vector<pcl::PointXYZ> person;
  addLeg(person, 0.06F, 0.0F);
  addLeg(person, 0.37F, 0.0F);
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(person)), (std::vector<std::size_t>{72}));
  const auto per_cell = clusterSizes({0.15F, 1, 1}, cloudOf(person));
  EXPECT_EQ(*std::max_element(per_cell.begin(), per_cell.end()), 36U)
      << "with a kernel of 1 nothing beyond a cell joins";
  // A second person as far ahead, every gap the same: joining on would make something wider than
  // a body, so the two stay apart.
  auto two_people = person;
  addLeg(two_people, 0.68F, 0.0F);
  addLeg(two_people, 0.99F, 0.0F);
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(two_people)), (std::vector<std::size_t>{72, 72}));
}

// Points along y = `y` from x0 to x1, every 2 cm, at three heights.
void addWall(std::vector<pcl::PointXYZ>& points, float x0, float x1, float y) {
  for (float x = x0; x <= x1 + 1e-4F; x += 0.02F) {
    for (float z : {0.1F, 0.3F, 0.5F}) {
      points.emplace_back(x, y, z);
    }
  }
}

// A body of 0.4 m across, as a ring of points around (x, y).
void addBody(std::vector<pcl::PointXYZ>& points, float x, float y) {
  for (int i = 0; i < 40; ++i) {
    const float angle = 0.157F * static_cast<float>(i);
    points.emplace_back(x + 0.2F * std::cos(angle), y + 0.2F * std::sin(angle), 0.3F);
  }
}

TEST(CloudCluster, JoinsAWallCutByTheShadowOfSomethingInFrontOfIt) {
  // A wall 4 m ahead of the origin with an 0.8 m stretch missing; a body 2 m ahead hides it.
  std::vector<pcl::PointXYZ> wall;
  addWall(wall, -3.0F, -0.5F, 4.0F);
  const std::size_t left = wall.size();
  addWall(wall, 0.3F, 3.0F, 4.0F);
  std::vector<pcl::PointXYZ> body;
  addBody(body, -0.1F, 2.0F);
  auto shadowed = wall;
  shadowed.insert(shadowed.end(), body.begin(), body.end());
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(shadowed)),
            (std::vector<std::size_t>{wall.size(), body.size()}));
  // Nothing in front: the stretch was seen, and it is an opening.
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(wall)),
            (std::vector<std::size_t>{left, wall.size() - left}));
  // A body beside the line of sight hides only part of the stretch.
  std::vector<pcl::PointXYZ> aside = wall;
  addBody(aside, -0.9F, 2.0F);
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(aside)),
            (std::vector<std::size_t>{left, wall.size() - left, 40}));
  // Something seen through the stretch, behind the wall's line: an opening with a body in front.
  auto seen_through = shadowed;
  for (int i = 0; i < 5; ++i) {
    seen_through.emplace_back(-0.15F + 0.02F * i, 5.0F, 0.2F);
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(seen_through)),
            (std::vector<std::size_t>{left, wall.size() - left, body.size(), 5}));
  // Beyond the hidden stretch a body standing on the wall's line stays apart from the wall, and
  // a thin 0.6 m stretch of wall joins it.
  std::vector<pcl::PointXYZ> wall_end;
  addWall(wall_end, -3.0F, -0.5F, 4.0F);
  auto person_on_line = wall_end;
  addBody(person_on_line, 0.5F, 4.0F);
  person_on_line.insert(person_on_line.end(), body.begin(), body.end());
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(person_on_line)),
            (std::vector<std::size_t>{left, 40, 40}));
  auto short_stretch = wall_end;
  addWall(short_stretch, 0.3F, 0.9F, 4.0F);
  short_stretch.insert(short_stretch.end(), body.begin(), body.end());
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(short_stretch)),
            (std::vector<std::size_t>{short_stretch.size() - 40, 40}));
  // The wall turning a corner beyond the hidden stretch is still the same structure.
  auto corner = wall_end;
  addWall(corner, 0.3F, 1.5F, 4.0F);
  for (float y = 4.02F; y <= 5.5F; y += 0.02F) {
    corner.emplace_back(1.5F, y, 0.3F);
  }
  corner.insert(corner.end(), body.begin(), body.end());
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(corner)),
            (std::vector<std::size_t>{corner.size() - 40, 40}));
  // A partition standing out 1.5 m from the wall at x = 1 hides the wall behind it up to
  // x = 1.6. The partition is one cluster with the wall it meets, and still casts the shadow.
  std::vector<pcl::PointXYZ> partitioned;
  addWall(partitioned, -2.0F, 1.0F, 4.0F);
  for (float y = 2.5F; y <= 3.98F; y += 0.02F) {
    for (float z : {0.1F, 0.3F, 0.5F}) {
      partitioned.emplace_back(1.0F, y, z);
    }
  }
  addWall(partitioned, 1.62F, 4.0F, 4.0F);
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(partitioned)),
            (std::vector<std::size_t>{partitioned.size()}));
  // The same wall with a 0.6 m opening and no partition: seen through, not joined.
  std::vector<pcl::PointXYZ> opening;
  addWall(opening, -2.0F, 1.0F, 4.0F);
  const std::size_t near_side = opening.size();
  addWall(opening, 1.62F, 4.0F, 4.0F);
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(opening)),
            (std::vector<std::size_t>{near_side, opening.size() - near_side}));
}

TEST(CloudCluster, JoinsAFarWallSeenInSparsePieces) {
  // A wall 4.9 m ahead, as a sparse scan or the region's edge leaves it: a long stretch, then
  // thin pieces 0.55-0.6 m long behind open gaps of 0.35-0.4 m, farther than the kernel reaches
  // from these cells, that nothing nearer hides.
  std::vector<pcl::PointXYZ> pieces;
  addWall(pieces, -2.0F, -0.6F, 4.9F);
  const std::size_t first = pieces.size();
  addWall(pieces, -0.25F, 0.35F, 4.9F);
  addWall(pieces, 0.75F, 1.3F, 4.9F);
  const std::size_t before_last = pieces.size();
  addWall(pieces, 1.7F, 2.3F, 4.9F);
  const std::size_t last = pieces.size() - before_last;
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(pieces)),
            (std::vector<std::size_t>{pieces.size()}));
  // Returns behind the last gap: the sensor sees through it, an opening, so the line parts
  // there.
  auto seen_through = pieces;
  for (int i = 0; i < 20; ++i) {
    seen_through.emplace_back(1.6F + 0.02F * static_cast<float>(i), 6.0F, 0.2F);
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(seen_through)),
            (std::vector<std::size_t>{pieces.size() - last, last, 20}));
  // A body on the line 0.3 m beyond the wall's end is not a piece of it.
  std::vector<pcl::PointXYZ> person_at_end;
  addWall(person_at_end, -2.0F, -0.6F, 4.9F);
  addBody(person_at_end, -0.1F, 4.9F);
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(person_at_end)),
            (std::vector<std::size_t>{first, 40}));
  // A gap wider than a stretch between returns (0.6 m) stays open.
  std::vector<pcl::PointXYZ> wide;
  addWall(wide, -2.0F, -0.6F, 4.9F);
  addWall(wide, 0.0F, 0.6F, 4.9F);
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(wide)),
            (std::vector<std::size_t>{first, wide.size() - first}));
}

TEST(CloudCluster, KeepsCabinetsAndShelvesApartFromTheWallBehindThem) {
  // A wall 2.4 m ahead, seen from x = -1.5 to 0.4; beside it, a cabinet's front face 1.2 m wide
  // and 0.68 m nearer, with its side face running back to 0.12 m short of the wall (the cell
  // joins them). The cabinet holds more points than the wall's visible stretch, so the cluster's
  // principal axis runs between the two; the wall's line is still found, and the cabinet stands
  // in front of it.
  std::vector<pcl::PointXYZ> wall;
  addWall(wall, -1.5F, 0.4F, 2.4F);
  std::vector<pcl::PointXYZ> cabinet;
  for (float x = 0.45F; x <= 1.65F + 1e-4F; x += 0.01F) {
    for (float z : {0.1F, 0.25F, 0.4F, 0.55F}) {
      cabinet.emplace_back(x, 1.72F, z);
    }
  }
  for (float y = 1.74F; y <= 2.28F + 1e-4F; y += 0.02F) {
    for (float z : {0.1F, 0.25F, 0.4F, 0.55F}) {
      cabinet.emplace_back(0.45F, y, z);
    }
  }
  ASSERT_GT(cabinet.size(), wall.size());
  auto scene = wall;
  scene.insert(scene.end(), cabinet.begin(), cabinet.end());
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(scene)),
            (std::vector<std::size_t>{wall.size(), cabinet.size()}));

  // A shelf's face 1.5 m long, parallel to a 3 m wall and 0.24 m in front of it: the gap is within
  // the kernel's reach, but two long parts side by side are two things.
  std::vector<pcl::PointXYZ> long_wall;
  addWall(long_wall, -1.5F, 1.5F, 2.4F);
  std::vector<pcl::PointXYZ> shelf;
  addWall(shelf, -0.75F, 0.75F, 2.16F);
  auto wall_and_shelf = long_wall;
  wall_and_shelf.insert(wall_and_shelf.end(), shelf.begin(), shelf.end());
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(wall_and_shelf)),
            (std::vector<std::size_t>{long_wall.size(), shelf.size()}));

  // A table with a chair pushed under it (a 0.8 m disc of legs and edge, the chair's legs and
  // seat beside) is no wall, whatever line runs through it: it stays one cluster.
  std::vector<pcl::PointXYZ> table;
  for (int i = 0; i < 60; ++i) {
    const float angle = 0.105F * static_cast<float>(i);
    table.emplace_back(2.0F + 0.4F * std::cos(angle), 0.4F * std::sin(angle), 0.6F);
    table.emplace_back(2.0F + 0.4F * std::cos(angle), 0.4F * std::sin(angle), 0.65F);
  }
  for (float x = 1.35F; x <= 1.8F; x += 0.03F) {
    for (float y = -0.2F; y <= 0.25F; y += 0.03F) {
      table.emplace_back(x, y, 0.45F);
    }
  }
  EXPECT_EQ(clusterSizes({0.15F, 3, 1}, cloudOf(table)), (std::vector<std::size_t>{table.size()}));
}

TEST(CloudCluster, MatchesBruteForceComponentsOnDenseAndWideClouds) {
  // Reference, point by point: parts are the components of points within reach quarter-cells of
  // each other in both axes (or in one cell when reach is 0); parts of one length class whose
  // points' cells lie within the kernel are then joined, and then leg-sized clusters. (No two lines
  // of these scenes are in line across a hidden stretch, which the last round would join.)
  auto reference = [](const std::vector<pcl::PointXYZ>& pts, float step, int reach) {
    float min_x = std::numeric_limits<float>::max();
    float min_y = std::numeric_limits<float>::max();
    for (const auto& p : pts) {
      min_x = std::min(min_x, p.x);
      min_y = std::min(min_y, p.y);
    }
    const std::size_t n = pts.size();
    std::vector<long> cell_x(n), cell_y(n), quarter_x(n), quarter_y(n);
    for (std::size_t i = 0; i < n; ++i) {
      const double gx = (double(pts[i].x) - min_x) / step;
      const double gy = (double(pts[i].y) - min_y) / step;
      cell_x[i] = static_cast<long>(gx);
      cell_y[i] = static_cast<long>(gy);
      quarter_x[i] = 4 * cell_x[i] + std::min(3L, static_cast<long>((gx - cell_x[i]) * 4));
      quarter_y[i] = 4 * cell_y[i] + std::min(3L, static_cast<long>((gy - cell_y[i]) * 4));
    }
    auto components = [n](const std::function<bool(std::size_t, std::size_t)>& linked) {
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
          for (std::size_t j = 0; j < n; ++j) {
            if (label[j] < 0 && linked(i, j)) {
              label[j] = next;
              stack.push_back(j);
            }
          }
        }
        ++next;
      }
      return label;
    };
    const std::vector<int> part = components([&](std::size_t i, std::size_t j) {
      if (reach == 0) {
        return cell_x[i] == cell_x[j] && cell_y[i] == cell_y[j];
      }
      return std::labs(quarter_x[i] - quarter_x[j]) <= 4 * reach &&
             std::labs(quarter_y[i] - quarter_y[j]) <= 4 * reach;
    });
    const int parts = *std::max_element(part.begin(), part.end()) + 1;
    // Per part its occupied quarter cells, their extent and their centres' principal axis.
    std::vector<std::set<std::pair<long, long>>> quarters(parts);
    for (std::size_t i = 0; i < n; ++i) {
      quarters[part[i]].emplace(quarter_x[i], quarter_y[i]);
    }
    struct Shape {
      bool is_long;
      double mean_x, mean_y, angle;
    };
    std::vector<Shape> shape(parts);
    for (int k = 0; k < parts; ++k) {
      long lo_x = LONG_MAX, lo_y = LONG_MAX, hi_x = LONG_MIN, hi_y = LONG_MIN;
      double sx = 0, sy = 0;
      for (const auto& q : quarters[k]) {
        lo_x = std::min(lo_x, q.first);
        hi_x = std::max(hi_x, q.first);
        lo_y = std::min(lo_y, q.second);
        hi_y = std::max(hi_y, q.second);
        sx += q.first + 0.5;
        sy += q.second + 0.5;
      }
      const double count = static_cast<double>(quarters[k].size());
      Shape& s = shape[k];
      s.mean_x = sx / count;
      s.mean_y = sy / count;
      double cxx = 0, cxy = 0, cyy = 0;
      for (const auto& q : quarters[k]) {
        const double dx = q.first + 0.5 - s.mean_x;
        const double dy = q.second + 0.5 - s.mean_y;
        cxx += dx * dx;
        cxy += dx * dy;
        cyy += dy * dy;
      }
      s.angle = 0.5 * std::atan2(2 * cxy, cxx - cyy);
      // Extent in whole quarter cells, as the clusterer measures it.
      s.is_long = std::hypot(double(hi_x - lo_x + 1), double(hi_y - lo_y + 1)) * step / 4 > 1.0;
    }
    auto joinable = [&](int a, int b) {
      if (shape[a].is_long == shape[b].is_long)
        return true;
      const Shape& line = shape[a].is_long ? shape[a] : shape[b];
      const Shape& piece = shape[a].is_long ? shape[b] : shape[a];
      const double off_x = piece.mean_x - line.mean_x;
      const double off_y = piece.mean_y - line.mean_y;
      return std::fabs(off_x * std::sin(line.angle) - off_y * std::cos(line.angle)) * step / 4 <=
             0.1;
    };
    const std::vector<int> label = components([&](std::size_t i, std::size_t j) {
      return std::labs(cell_x[i] - cell_x[j]) <= reach &&
             std::labs(cell_y[i] - cell_y[j]) <= reach &&
             (part[i] == part[j] || joinable(part[i], part[j]));
    });
    // Leg-sized clusters (box diagonal <= 0.35 m) whose boxes lie within 6 empty quarter cells
    // (0.225 m) of each other in both axes join, nearest box centres first, while the joined box
    // stays within 0.7 m.
    const int clusters = *std::max_element(label.begin(), label.end()) + 1;
    struct Box {
      long lo_x = LONG_MAX, lo_y = LONG_MAX, hi_x = LONG_MIN, hi_y = LONG_MIN;
      double diagonal(float cell) const {
        return std::hypot(double(hi_x - lo_x + 1), double(hi_y - lo_y + 1)) * cell / 4;
      }
    };
    std::vector<Box> box(clusters);
    for (std::size_t i = 0; i < n; ++i) {
      Box& b = box[label[i]];
      b.lo_x = std::min(b.lo_x, quarter_x[i]);
      b.hi_x = std::max(b.hi_x, quarter_x[i]);
      b.lo_y = std::min(b.lo_y, quarter_y[i]);
      b.hi_y = std::max(b.hi_y, quarter_y[i]);
    }
    std::vector<std::tuple<double, int, int>> pairs;
    for (int a = 0; a < clusters && reach > 0; ++a) {
      for (int b = a + 1; b < clusters; ++b) {
        const Box& p = box[a];
        const Box& q = box[b];
        const long gap_x = std::max(q.lo_x - p.hi_x, p.lo_x - q.hi_x) - 1;
        const long gap_y = std::max(q.lo_y - p.hi_y, p.lo_y - q.hi_y) - 1;
        if (p.diagonal(step) <= 0.35 && q.diagonal(step) <= 0.35 && gap_x <= 6 && gap_y <= 6) {
          const double dx = double(p.lo_x + p.hi_x - q.lo_x - q.hi_x);
          const double dy = double(p.lo_y + p.hi_y - q.lo_y - q.hi_y);
          pairs.emplace_back(dx * dx + dy * dy, a, b);
        }
      }
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<int> merged(clusters);
    std::iota(merged.begin(), merged.end(), 0);
    std::function<int(int)> find = [&](int c) { return merged[c] == c ? c : find(merged[c]); };
    for (const auto& pair : pairs) {
      const int a = find(std::get<1>(pair));
      const int b = find(std::get<2>(pair));
      if (a == b)
        continue;
      Box joined = box[a];
      joined.lo_x = std::min(joined.lo_x, box[b].lo_x);
      joined.hi_x = std::max(joined.hi_x, box[b].hi_x);
      joined.lo_y = std::min(joined.lo_y, box[b].lo_y);
      joined.hi_y = std::max(joined.hi_y, box[b].hi_y);
      if (joined.diagonal(step) > 0.7)
        continue;
      merged[std::max(a, b)] = std::min(a, b);
      box[std::min(a, b)] = joined;
    }
    // Renumbered in order of first point, like the clusterer.
    std::vector<int> renumbered(clusters, -1);
    std::vector<std::size_t> sizes;
    for (int l : label) {
      const int root = find(l);
      if (renumbered[root] < 0) {
        renumbered[root] = static_cast<int>(sizes.size());
        sizes.push_back(0);
      }
      ++sizes[renumbered[root]];
    }
    return sizes;
  };
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> coord(-3.0F, 3.0F);
  std::vector<pcl::PointXYZ> points;
  for (int i = 0; i < 600; ++i) {
    points.emplace_back(coord(rng), coord(rng), 0.0F);
  }
  // Wall-like lines among them, so that long parts meet short ones across the kernel.
  std::uniform_real_distribution<float> unit(0.0F, 1.0F);
  for (int line = 0; line < 8; ++line) {
    const float x = coord(rng);
    const float y = coord(rng);
    const float heading = 6.3F * unit(rng);
    for (int i = 0; i < 40; ++i) {
      const float along = 0.05F * i;
      points.emplace_back(x + along * std::cos(heading), y + along * std::sin(heading), 0.0F);
    }
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
