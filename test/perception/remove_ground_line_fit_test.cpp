#include <norvel/perception/remove_ground_line_fit.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "synthetic_scan.hpp"

namespace {

using norvel::perception::GroundRemovalParams;
using norvel::perception::PointCloud;
using norvel::perception::PointCloudPtr;
using norvel::perception::RemoveGroundLineFit;

struct Labelled {
  PointCloudPtr cloud = std::make_shared<PointCloud>();
  std::vector<bool> is_ground;
  void add(float x, float y, float z, bool ground) {
    cloud->points.emplace_back(x, y, z);
    is_ground.push_back(ground);
  }
};

// Runs the remover and tells, per input point, whether it came out as ground. Outputs keep input
// order, so they are matched by walking the input and the ground output together.
std::vector<bool> groundFlags(const GroundRemovalParams& params, const Labelled& scene) {
  RemoveGroundLineFit remover(params);
  auto obstacles = std::make_shared<PointCloud>();
  auto ground = std::make_shared<PointCloud>();
  remover.removeGround(scene.cloud, obstacles, ground);
  EXPECT_EQ(obstacles->size() + ground->size(), scene.cloud->size());
  std::vector<bool> as_ground(scene.cloud->size(), false);
  std::size_t g = 0;
  for (std::size_t i = 0; i < scene.cloud->size(); ++i) {
    const auto& p = scene.cloud->points[i];
    as_ground[i] = g < ground->size() && ground->points[g].x == p.x && ground->points[g].y == p.y &&
                   ground->points[g].z == p.z;
    g += as_ground[i] ? 1 : 0;
  }
  EXPECT_EQ(g, ground->size()) << "ground output is not an ordered subset of the input";
  return as_ground;
}

// How many labelled floor points came out as ground and how many labelled obstacle points as
// obstacles.
struct Outcome {
  int floor_total{0};
  int floor_as_ground{0};
  int obstacle_total{0};
  int obstacle_as_obstacle{0};
};

Outcome classify(const GroundRemovalParams& params, const Labelled& scene) {
  const std::vector<bool> as_ground = groundFlags(params, scene);
  Outcome o;
  for (std::size_t i = 0; i < scene.cloud->size(); ++i) {
    if (scene.is_ground[i]) {
      ++o.floor_total;
      o.floor_as_ground += as_ground[i] ? 1 : 0;
    } else {
      ++o.obstacle_total;
      o.obstacle_as_obstacle += as_ground[i] ? 0 : 1;
    }
  }
  return o;
}

// Points on a floor profile z = floor(r) over the first quadrant, with obstacle posts standing on
// it whose points start `post_clearance` above the floor.
template <typename FloorFn>
Labelled profileScene(FloorFn floor, float post_clearance, unsigned seed) {
  Labelled scene;
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0F, 0.004F);
  for (float az = 0.01F; az < 1.56F; az += 0.02F) {
    for (float r = 0.5F; r < 6.0F; r += 0.04F) {
      scene.add(r * std::cos(az), r * std::sin(az), floor(r) + noise(rng), true);
    }
  }
  // Posts every 0.4 rad at ranges 1.5, 3 and 4.5 m, each a small vertical column of points.
  for (float az = 0.2F; az < 1.56F; az += 0.4F) {
    for (float r : {1.5F, 3.0F, 4.5F}) {
      for (float h = post_clearance; h < 0.6F; h += 0.03F) {
        for (float dr = 0.0F; dr < 0.1F; dr += 0.03F) {
          scene.add((r + dr) * std::cos(az), (r + dr) * std::sin(az), floor(r + dr) + h, false);
        }
      }
    }
  }
  return scene;
}

TEST(RemoveGroundLineFit, SeparatesFloorFromObstaclesOnVariousFloors) {
  const GroundRemovalParams defaults;
  {
    SCOPED_TRACE("ray-cast room: level floor seen only beyond the fitted range, boxes");
    using perception_test::Box;
    const std::vector<Box> boxes = {{{2.0F, 0.5F, 0.0F}, {2.4F, 0.9F, 0.5F}, 1},
                                    {{0.8F, 3.0F, 0.0F}, {1.2F, 3.3F, 0.3F}, 2},
                                    {{3.5F, 3.5F, 0.0F}, {4.5F, 4.0F, 1.0F}, 3}};
    Labelled scene;
    for (const auto& hit : perception_test::scan({}, boxes, 0.0F, 90.0F, 0.25F)) {
      // Box returns within 5 cm of the floor are neither required as ground nor as obstacle.
      if (perception_test::insideRoi(hit.point) && (hit.id == -1 || hit.point.z > 0.05F)) {
        scene.add(hit.point.x, hit.point.y, hit.point.z, hit.id == -1);
      }
    }
    const Outcome o = classify(defaults, scene);
    ASSERT_GT(o.floor_total, 1000);
    ASSERT_GT(o.obstacle_total, 300);
    EXPECT_EQ(o.floor_as_ground, o.floor_total);
    EXPECT_EQ(o.obstacle_as_obstacle, o.obstacle_total);
  }
  {
    SCOPED_TRACE("floor rising 3 cm per metre: 16 cm high at 5.5 m, far above a flat-floor rule");
    const Labelled scene = profileScene([](float r) { return 0.03F * r; }, 0.07F, 1);
    const Outcome o = classify(defaults, scene);
    EXPECT_GE(o.floor_as_ground, o.floor_total * 99 / 100);
    EXPECT_GE(o.obstacle_as_obstacle, o.obstacle_total * 99 / 100);
  }
  {
    SCOPED_TRACE("step 8 cm down at 1.2 m: posts on the lower floor reach only 1 cm below z = 0");
    const Labelled scene = profileScene([](float r) { return r < 1.2F ? 0.0F : -0.08F; }, 0.07F, 2);
    const Outcome o = classify(defaults, scene);
    EXPECT_GE(o.floor_as_ground, o.floor_total * 99 / 100);
    EXPECT_GE(o.obstacle_as_obstacle, o.obstacle_total * 99 / 100);
  }
  {
    SCOPED_TRACE("lone returns far below the floor neither become obstacles nor break the lines");
    Labelled scene = profileScene([](float r) { return 0.02F * r; }, 0.07F, 3);
    for (float az = 0.1F; az < 1.5F; az += 0.3F) {
      scene.add(1.0F * std::cos(az), 1.0F * std::sin(az), -0.3F, true);
    }
    const Outcome o = classify(defaults, scene);
    EXPECT_GE(o.floor_as_ground, o.floor_total * 99 / 100);
    EXPECT_GE(o.obstacle_as_obstacle, o.obstacle_total * 99 / 100);
  }
  {
    SCOPED_TRACE("a 3.5 cm mat in the last half metre of the fitted floor is not a slope");
    // Past point_cloud_max_range (2 m by default) no floor is fitted, so the walls at 4 to 6 m
    // are judged against the last line carried on. They stand on bare floor at z = 0 with their
    // lowest returns 10 cm up. As from a non-repeating scan pattern, each wall return has its own
    // height, so that no two stand one above the other for the vertical-structure test.
    Labelled scene;
    std::mt19937 rng(4);
    std::normal_distribution<float> noise(0.0F, 0.004F);
    int column = 0;
    for (float az = 0.01F; az < 1.56F; az += 0.02F, ++column) {
      for (float r = 0.5F; r < 2.0F; r += 0.04F) {
        scene.add(r * std::cos(az), r * std::sin(az), (r > 1.5F ? 0.035F : 0.0F) + noise(rng),
                  true);
      }
      for (float r : {4.0F, 5.0F, 6.0F}) {
        const float h = 0.1F + 0.04F * static_cast<float>(column % 8);
        scene.add(r * std::cos(az), r * std::sin(az), h, false);
      }
    }
    const Outcome o = classify(defaults, scene);
    EXPECT_GE(o.floor_as_ground, o.floor_total * 99 / 100);
    EXPECT_EQ(o.obstacle_as_obstacle, o.obstacle_total);
  }
}

// A 16-ring spinning lidar (-15 to +15 degrees every 2 degrees, 0.2-degree columns) kLidarHeight
// above a flat floor, cast against axis-aligned boxes over the first quadrant. Labels come from
// what each ray hit.
Labelled ringScan(const std::vector<perception_test::Box>& boxes, std::vector<float>* wall_gap) {
  using perception_test::kLidarHeight;
  using perception_test::kPi;
  Labelled scene;
  const Eigen::Vector3f origin(0.0F, 0.0F, kLidarHeight);
  for (float az = 0.1F; az < 90.0F; az += 0.2F) {
    for (int ring = 0; ring < 16; ++ring) {
      const float a = az * kPi / 180.0F;
      const float e = (-15.0F + 2.0F * ring) * kPi / 180.0F;
      const Eigen::Vector3f dir(std::cos(e) * std::cos(a), std::cos(e) * std::sin(a), std::sin(e));
      float best = dir.z() < 0.0F ? -origin.z() / dir.z() : 8.0F;
      bool floor = dir.z() < 0.0F;
      for (const auto& box : boxes) {
        float t = 0.0F;
        if (perception_test::rayHitsBox(origin, dir, box, t) && t < best) {
          best = t;
          floor = false;
        }
      }
      const Eigen::Vector3f hit = origin + dir * best;
      if (best >= 8.0F || !perception_test::insideRoi(pcl::PointXYZ(hit.x(), hit.y(), hit.z()))) {
        continue;
      }
      scene.add(hit.x(), hit.y(), floor ? 0.0F : hit.z(), floor);
      if (wall_gap != nullptr) {
        // Horizontal distance to the nearest box footprint, for floor points next to a wall.
        float gap = std::numeric_limits<float>::max();
        for (const auto& box : boxes) {
          const float dx = std::max({box.min.x() - hit.x(), 0.0F, hit.x() - box.max.x()});
          const float dy = std::max({box.min.y() - hit.y(), 0.0F, hit.y() - box.max.y()});
          gap = std::min(gap, std::hypot(dx, dy));
        }
        wall_gap->push_back(gap);
      }
    }
  }
  return scene;
}

TEST(RemoveGroundLineFit, WallBasesAreObstaclesAndTheFloorBesideThemGround) {
  using perception_test::Box;
  // Walls 1.0 m and 1.6 m away and a low cabinet: the lowest rings hit their bases 0 to 5 cm
  // above the floor, within the ground tolerance, while the rings above hit the same face. A
  // bench seat from 0.40 to 0.45 m stands over open floor that the lidar sees beneath it.
  const std::vector<Box> boxes = {{{-1.0F, 1.0F, 0.0F}, {6.0F, 1.1F, 2.0F}, 1},
                                  {{1.6F, -1.0F, 0.0F}, {1.7F, 0.95F, 2.0F}, 2},
                                  {{0.9F, 0.3F, 0.0F}, {1.1F, 0.6F, 0.3F}, 3},
                                  {{3.0F, 0.2F, 0.40F}, {3.6F, 0.9F, 0.45F}, 4}};
  std::vector<float> gap;
  const Labelled scene = ringScan(boxes, &gap);
  const std::vector<bool> as_ground = groundFlags(GroundRemovalParams{}, scene);
  int low_wall = 0;
  int low_wall_as_obstacle = 0;
  int open_floor = 0;
  int open_floor_as_ground = 0;
  int under_seat = 0;
  int under_seat_as_ground = 0;
  for (std::size_t i = 0; i < scene.cloud->size(); ++i) {
    const auto& p = scene.cloud->points[i];
    if (!scene.is_ground[i] && p.z <= 0.05F) {
      ++low_wall;
      low_wall_as_obstacle += as_ground[i] ? 0 : 1;
    }
    if (scene.is_ground[i] && gap[i] > 0.06F) {
      ++open_floor;
      open_floor_as_ground += as_ground[i] ? 1 : 0;
    }
    if (scene.is_ground[i] && p.x > 1.15F && p.x < 1.55F && p.y > 0.0F && p.y < 0.25F) {
      ++under_seat;
      under_seat_as_ground += as_ground[i] ? 1 : 0;
    }
  }
  ASSERT_GT(low_wall, 100);
  ASSERT_GT(open_floor, 300);
  ASSERT_GT(under_seat, 10);
  EXPECT_EQ(low_wall_as_obstacle, low_wall);
  EXPECT_EQ(open_floor_as_ground, open_floor);
  EXPECT_EQ(under_seat_as_ground, under_seat);
}

// How many points of `scene` `selected` picks, and how many of those came out as ground.
struct GroundTally {
  int total{0};
  int as_ground{0};
  int asObstacle() const { return total - as_ground; }
};
template <typename Selected>
GroundTally tally(const Labelled& scene, const std::vector<bool>& as_ground, Selected selected) {
  GroundTally t;
  for (std::size_t i = 0; i < scene.cloud->size(); ++i) {
    if (selected(i)) {
      ++t.total;
      t.as_ground += as_ground[i] ? 1 : 0;
    }
  }
  return t;
}

TEST(RemoveGroundLineFit, FloorAlongAnAislesShelvesIsGround) {
  using perception_test::Box;
  // An aisle 2.5 m wide between shelving: the rings meet the floor along the shelves' feet at a
  // grazing angle, sampling it densely within centimetres of their faces.
  const std::vector<Box> boxes = {{{-1.0F, 1.25F, 0.0F}, {6.0F, 1.85F, 2.0F}, 1},
                                  {{-1.0F, -1.85F, 0.0F}, {6.0F, -1.25F, 2.0F}, 2}};
  std::vector<float> gap;
  const Labelled scene = ringScan(boxes, &gap);
  const std::vector<bool> as_ground = groundFlags(GroundRemovalParams{}, scene);
  const GroundTally near_foot =
      tally(scene, as_ground, [&](std::size_t i) { return scene.is_ground[i] && gap[i] > 0.03F; });
  const GroundTally low_shelf = tally(scene, as_ground, [&](std::size_t i) {
    return !scene.is_ground[i] && scene.cloud->points[i].z <= 0.05F;
  });
  ASSERT_GT(near_foot.total, 300);
  ASSERT_GT(low_shelf.total, 20);
  EXPECT_EQ(near_foot.as_ground, near_foot.total);
  EXPECT_EQ(low_shelf.asObstacle(), low_shelf.total);
}

TEST(RemoveGroundLineFit, FloorInFrontOfANoisyFaceIsGround) {
  // A wall across the floor at x = 2 m, its returns scattered along the rays by 1 cm of range
  // noise, and floor in front of it up to 2.5 cm from its face. Where the face stands is the mean
  // of its returns, not the return nearest the sensor: floor 3.5 cm and more in front (3.5
  // standard deviations) stays ground, while the face's own returns at floor height remain
  // obstacles.
  constexpr float kFace = 2.0F;
  Labelled scene;
  std::mt19937 rng(29);
  std::normal_distribution<float> range_noise(0.0F, 0.01F);
  for (float y = -0.8F; y <= 0.8F; y += 0.02F) {
    for (float x = 0.6F; x < kFace - 0.08F; x += 0.02F) {
      scene.add(x, y, 0.0F, true);
    }
    for (float gap : {0.065F, 0.055F, 0.045F, 0.035F, 0.025F}) {
      scene.add(kFace - gap, y, 0.0F, true);
    }
    for (float z = 0.0F; z <= 0.6F; z += 0.02F) {
      scene.add(kFace + range_noise(rng), y, z, false);
    }
  }
  const std::vector<bool> as_ground = groundFlags(GroundRemovalParams{}, scene);
  const GroundTally in_front = tally(scene, as_ground, [&](std::size_t i) {
    const float x = scene.cloud->points[i].x;
    return scene.is_ground[i] && x >= kFace - 0.06F && x <= kFace - 0.03F;
  });
  const GroundTally low_face = tally(scene, as_ground, [&](std::size_t i) {
    return !scene.is_ground[i] && scene.cloud->points[i].z <= 0.045F;
  });
  ASSERT_GT(in_front.total, 60);
  ASSERT_GT(low_face.total, 100);
  EXPECT_GE(in_front.as_ground, in_front.total * 95 / 100)
      << in_front.as_ground << " of " << in_front.total;
  EXPECT_GE(low_face.asObstacle(), low_face.total * 95 / 100)
      << low_face.asObstacle() << " of " << low_face.total;
}

TEST(RemoveGroundLineFit, SparseWallFootReturnsAboveTheFloorAreObstacles) {
  // A sparse pattern seen from above: one return lands 2 to 4 cm up a wall's foot, and the
  // wall's next returns start 20 cm higher, 4 cm to the side. Those foot returns lie above the
  // floor's noise and within a few centimetres of the face, so they are the wall's; the floor in
  // front of the face, at floor height, stays ground.
  constexpr float kFace = 2.0F;
  Labelled scene;
  std::mt19937 rng(31);
  std::normal_distribution<float> range_noise(0.0F, 0.005F);
  int column = 0;
  for (float y = -0.6F; y <= 0.6F; y += 0.09F, ++column) {
    for (float x = 0.6F; x < kFace - 0.08F; x += 0.02F) {
      scene.add(x, y, 0.0F, true);
    }
    for (float gap : {0.065F, 0.05F, 0.035F}) {
      scene.add(kFace - gap, y, 0.0F, true);
    }
    scene.add(kFace + range_noise(rng), y, 0.02F + 0.01F * static_cast<float>(column % 3), false);
    for (float z = 0.22F; z <= 0.6F; z += 0.05F) {
      scene.add(kFace + range_noise(rng), y + 0.04F, z, false);
    }
  }
  const std::vector<bool> as_ground = groundFlags(GroundRemovalParams{}, scene);
  const GroundTally in_front = tally(scene, as_ground, [&](std::size_t i) {
    return scene.is_ground[i] && scene.cloud->points[i].x >= kFace - 0.07F;
  });
  const GroundTally foot = tally(scene, as_ground, [&](std::size_t i) {
    return !scene.is_ground[i] && scene.cloud->points[i].z < 0.05F;
  });
  ASSERT_EQ(in_front.total, 42);
  ASSERT_EQ(foot.total, 14);
  EXPECT_EQ(in_front.as_ground, in_front.total);
  EXPECT_EQ(foot.asObstacle(), foot.total);
}

TEST(RemoveGroundLineFit, HandlesDegenerateInput) {
  RemoveGroundLineFit remover(GroundRemovalParams{});
  auto run = [&](const PointCloudPtr& in, std::size_t& obstacles_out, std::size_t& ground_out) {
    auto obstacles = std::make_shared<PointCloud>();
    auto ground = std::make_shared<PointCloud>();
    remover.removeGround(in, obstacles, ground);
    obstacles_out = obstacles->size();
    ground_out = ground->size();
    EXPECT_EQ(obstacles->width, obstacles->size());
    EXPECT_EQ(ground->height, 1U);
  };
  std::size_t obstacles = 0;
  std::size_t ground = 0;
  {
    SCOPED_TRACE("empty cloud");
    run(std::make_shared<PointCloud>(), obstacles, ground);
    EXPECT_EQ(obstacles + ground, 0U);
  }
  {
    SCOPED_TRACE("non-finite points are dropped, the others classified");
    auto in = std::make_shared<PointCloud>();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    in->points = {{nan, 1.0F, 0.0F},
                  {1.0F, inf, 0.0F},
                  {1.0F, 1.0F, -inf},
                  {1.0F, 1.0F, 0.0F},
                  {1.0F, 1.2F, 0.4F}};
    run(in, obstacles, ground);
    EXPECT_EQ(ground, 1U);
    EXPECT_EQ(obstacles, 1U);
  }
  {
    SCOPED_TRACE("single points: on the floor, and high up");
    auto in = std::make_shared<PointCloud>();
    in->points = {{3.0F, 0.5F, 0.01F}};
    run(in, obstacles, ground);
    EXPECT_EQ(ground, 1U);
    in->points = {{3.0F, 0.5F, 0.3F}};
    run(in, obstacles, ground);
    EXPECT_EQ(obstacles, 1U);
  }
  {
    SCOPED_TRACE("null pointers leave the outputs untouched");
    auto out = std::make_shared<PointCloud>();
    EXPECT_NO_THROW(remover.removeGround(nullptr, out, out));
    EXPECT_NO_THROW(remover.removeGround(std::make_shared<PointCloud>(), nullptr, out));
    EXPECT_TRUE(out->empty());
  }
  {
    SCOPED_TRACE("a million points, all floor");
    auto in = std::make_shared<PointCloud>();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> xy(-5.0F, 5.0F);
    std::uniform_real_distribution<float> z(-0.01F, 0.01F);
    in->points.resize(1000000);
    for (auto& p : in->points) {
      p = pcl::PointXYZ(xy(rng), xy(rng), z(rng));
    }
    run(in, obstacles, ground);
    EXPECT_EQ(ground, in->size());
    EXPECT_EQ(obstacles, 0U);
  }
}

TEST(RemoveGroundLineFit, RejectsSettingsOutOfTheirDomain) {
  auto with = [](auto change) {
    GroundRemovalParams p;
    change(p);
    return p;
  };
  EXPECT_THROW(RemoveGroundLineFit(with([](auto& p) { p.segmentation_bin_len = 0.0F; })),
               std::invalid_argument);
  EXPECT_THROW(
      RemoveGroundLineFit(with([](auto& p) { p.segmentation_angular_resolution = -1.0F; })),
      std::invalid_argument);
  EXPECT_THROW(RemoveGroundLineFit(with([](auto& p) { p.point_cloud_max_range = 0.4F; })),
               std::invalid_argument);
  EXPECT_THROW(RemoveGroundLineFit(with([](auto& p) { p.noise_nsigma = std::nanf(""); })),
               std::invalid_argument);
  EXPECT_THROW(RemoveGroundLineFit(with([](auto& p) { p.max_dist_point_groundline = -0.1F; })),
               std::invalid_argument);
  EXPECT_THROW(
      RemoveGroundLineFit(with([](auto& p) { p.segmentation_angular_resolution = 1e-6F; })),
      std::invalid_argument);

  RemoveGroundLineFit remover(GroundRemovalParams{});
  EXPECT_THROW(remover.setParams(with([](auto& p) { p.point_cloud_min_range = 5.0F; })),
               std::invalid_argument);
  EXPECT_FLOAT_EQ(remover.params().point_cloud_min_range, 0.45F);
  remover.setParams(with([](auto& p) { p.cam_height = 0.3F; }));
  auto in = std::make_shared<PointCloud>();
  in->points = {{3.0F, 0.5F, 0.2F}};
  auto obstacles = std::make_shared<PointCloud>();
  auto ground = std::make_shared<PointCloud>();
  remover.removeGround(in, obstacles, ground);
  EXPECT_EQ(ground->size(), 1U)
      << "alone in its segment, a 20 cm point is floor under a 30 cm flat-floor tolerance";
}

}  // namespace
