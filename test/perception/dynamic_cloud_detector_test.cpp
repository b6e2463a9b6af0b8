#include <norvel/perception/dynamic_cloud_detector.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "synthetic_scan.hpp"

namespace {

using norvel::perception::CameraInfo;
using norvel::perception::DynamicCloudDetector;
using norvel::perception::DynamicCloudDetectorConfig;
using perception_test::Box;
using perception_test::Pose;

// The node's default virtual camera turned to azimuths start..start + 90 degrees, 1280 x 800, at
// the lidar 0.3 m above the base; rows of the rotation (-s 0 c), (c 0 s), (0 1 0) for the
// middle azimuth.
CameraInfo cameraFrom(float start_deg) {
  CameraInfo info;
  info.width = 1280;
  info.height = 800;
  info.intrinsics << 640.0F, 0.0F, 640.0F, 0.0F, 220.98F, 400.0F, 0.0F, 0.0F, 1.0F;
  const float middle = (start_deg + 45.0F) * perception_test::kPi / 180.0F;
  const float c = std::cos(middle);
  const float s = std::sin(middle);
  info.camera_to_base << -s, 0, c, 0, c, 0, s, 0, 0, 1, 0, perception_test::kLidarHeight, 0, 0, 0,
      1;
  return info;
}

// The node's default virtual camera: azimuths 0..90 degrees (looking at 45).
CameraInfo defaultCamera() {
  return cameraFrom(0.0F);
}

// What the detector sees: the camera's obstacle points (ROI, above 5 cm), with the object id of
// each, and the floor points the ground remover took out of the same cloud.
struct Frame {
  pcl::PointCloud<pcl::PointXYZ>::Ptr cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
  std::vector<int> ids;
  pcl::PointCloud<pcl::PointXYZ>::Ptr floor = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
};

// Appends the hits on objects above 5 cm inside the region of interest to `frame`, and those on
// the floor to its floor.
void addObstacleHits(const std::vector<perception_test::Hit>& hits, Frame& frame) {
  for (const auto& hit : hits) {
    if (!perception_test::insideRoi(hit.point)) {
      continue;
    }
    if (hit.id >= 0 && hit.point.z > 0.05F) {
      frame.cloud->points.push_back(hit.point);
      frame.ids.push_back(hit.id);
    } else if (hit.id == -1) {
      frame.floor->points.push_back(hit.point);
    }
  }
}

Frame obstacleFrame(const Pose& pose, const std::vector<Box>& boxes) {
  Frame f;
  addObstacleHits(perception_test::scan(pose, boxes, 0.0F, 90.0F, 0.5F), f);
  return f;
}

// Dynamic share per object id over one frame.
struct Shares {
  int moving_total{0};
  int moving_dynamic{0};
  int static_total{0};
  int static_dynamic{0};

  void add(const Shares& s) {
    moving_total += s.moving_total;
    moving_dynamic += s.moving_dynamic;
    static_total += s.static_total;
    static_dynamic += s.static_dynamic;
  }
};

Shares divide(DynamicCloudDetector& detector, const Frame& frame, int moving_id) {
  Shares s;
  for (std::size_t i = 0; i < frame.cloud->size(); ++i) {
    const bool dynamic = detector.isDynamic(frame.cloud->points[i]);
    if (frame.ids[i] == moving_id) {
      ++s.moving_total;
      s.moving_dynamic += dynamic ? 1 : 0;
    } else {
      ++s.static_total;
      s.static_dynamic += dynamic ? 1 : 0;
    }
  }
  return s;
}

// A room corner in front of the camera: a wall across x = 4.5, another across y = 4.5, a
// cabinet and a pillar, in map coordinates. Id 9 is reserved for the walker.
std::vector<Box> room() {
  return {{{4.5F, -6.0F, 0.0F}, {4.7F, 6.0F, 2.0F}, 1},
          {{-6.0F, 4.5F, 0.0F}, {4.7F, 4.7F, 2.0F}, 2},
          {{2.0F, 0.8F, 0.0F}, {2.6F, 1.2F, 0.9F}, 3},
          {{1.2F, 2.5F, 0.0F}, {1.4F, 2.7F, 2.0F}, 4}};
}

// Dynamic shares of the walker (id 9) and of everything else when each is divided as its own
// cluster, as the node divides clusters.
Shares divideAsClusters(DynamicCloudDetector& detector, const Frame& frame) {
  pcl::PointCloud<pcl::PointXYZ> walker;
  pcl::PointCloud<pcl::PointXYZ> rest;
  for (std::size_t i = 0; i < frame.cloud->size(); ++i) {
    (frame.ids[i] == 9 ? walker : rest).points.push_back(frame.cloud->points[i]);
  }
  Shares s;
  pcl::PointCloud<pcl::PointXYZ> dynamic;
  pcl::PointCloud<pcl::PointXYZ> static_cloud;
  detector.DivideCloud(walker, dynamic, static_cloud);
  s.moving_total = static_cast<int>(walker.size());
  s.moving_dynamic = static_cast<int>(dynamic.size());
  dynamic.clear();
  static_cloud.clear();
  detector.DivideCloud(rest, dynamic, static_cloud);
  s.static_total = static_cast<int>(rest.size());
  s.static_dynamic = static_cast<int>(dynamic.size());
  return s;
}

TEST(DynamicCloudDetector, TellsAWalkerFromStaticStructureWhileTheRobotDrivesAndTurns) {
  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  ASSERT_TRUE(detector.Init(defaultCamera()));
  Shares total;
  for (int k = 0; k < 40; ++k) {
    // The robot drives at 0.5 m/s and turns at 10 degrees/s; the walker crosses at 1 m/s.
    const Pose pose{0.05F * k - 1.0F, -0.5F, 0.0175F * k};
    std::vector<Box> boxes = room();
    const float walker_y = -0.5F + 0.1F * k;
    boxes.push_back({{3.0F, walker_y, 0.0F}, {3.3F, walker_y + 0.45F, 1.7F}, 9});
    const Frame frame = obstacleFrame(pose, boxes);
    detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
    if (k >= 12) {
      total.add(divide(detector, frame, 9));
    }
  }
  ASSERT_GT(total.moving_total, 200);
  ASSERT_GT(total.static_total, 2000);
  EXPECT_GE(total.moving_dynamic, total.moving_total * 85 / 100);
  EXPECT_LE(total.static_dynamic, total.static_total / 100);
}

TEST(DynamicCloudDetector, CallsAWalkerMovingMostlyAwayDynamicThroughItsCluster) {
  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  ASSERT_TRUE(detector.Init(defaultCamera()));
  // The walker leaves along the camera's axis at 1 m/s, drifting sideways at 0.5 m/s: earlier
  // frames saw it nearer, in front of most of where it is now, so only its sideways edge shows
  // free space. The whole walker is one cluster; the room's two walls are static.
  Shares total;
  for (int k = 0; k < 25; ++k) {
    std::vector<Box> boxes = {room()[0], room()[1]};
    const float along = 1.0F + 0.1F * k;
    const float x = along * 0.7071F + 0.035F * k;
    const float y = along * 0.7071F - 0.035F * k;
    boxes.push_back({{x - 0.2F, y - 0.2F, 0.0F}, {x + 0.2F, y + 0.2F, 1.7F}, 9});
    const Frame frame = obstacleFrame({}, boxes);
    detector.Update(frame.cloud, Pose{}.baseToMap(), false, frame.floor);
    if (k >= 12) {
      total.add(divideAsClusters(detector, frame));
    }
  }
  ASSERT_GT(total.moving_total, 300);
  ASSERT_GT(total.static_total, 2000);
  // Free space shows only beside its sideways edge (under a tenth of its points); the points
  // within 0.3 m of those follow, roughly the leading two thirds of the face of a 0.4 m walker
  // seen at 45 degrees, a good third of all its points.
  EXPECT_GE(total.moving_dynamic, total.moving_total * 33 / 100);
  EXPECT_LE(total.static_dynamic, total.static_total / 100);
}

TEST(DynamicCloudDetector, CallsAPersonWalkingStraightAwayDynamic) {
  // The walker leaves exactly along the camera's axis at 1 m/s while the robot creeps after it
  // at 0.3 m/s: every earlier frame saw it in front of where it is now, none saw through it.
  // Then a second walker, who stood 0.3 m in front of the far wall, steps aside: the wall behind
  // them comes into view, hidden before by something at a constant distance in front of it.
  for (const bool robot_moves : {false, true}) {
    SCOPED_TRACE(robot_moves ? "robot following" : "robot standing");
    DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
    ASSERT_TRUE(detector.Init(defaultCamera()));
    Shares walking_away;
    Shares revealed;
    for (int k = 0; k < 45; ++k) {
      const Pose pose{robot_moves ? 0.03F * std::min(k, 25) : 0.0F, 0.0F, 0.0F};
      std::vector<Box> boxes = {room()[0], room()[1]};
      if (k < 25) {
        const float along = 1.3F + 0.1F * k;
        const float x = along * 0.7071F;
        const float y = along * 0.7071F;
        boxes.push_back({{x - 0.2F, y - 0.2F, 0.0F}, {x + 0.2F, y + 0.2F, 1.7F}, 9});
      } else {
        // Stands in front of the wall across x = 4.5 until frame 35, then walks off along it.
        const float y = 2.0F + (k < 35 ? 0.0F : 0.1F * static_cast<float>(k - 35));
        boxes.push_back({{3.8F, y - 0.2F, 0.0F}, {4.2F, y + 0.2F, 1.7F}, 9});
      }
      const Frame frame = obstacleFrame(pose, boxes);
      detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
      const Shares s = divideAsClusters(detector, frame);
      if (k >= 12 && k < 25) {
        walking_away.add(s);
      } else if (k >= 36) {
        revealed.add(s);
      }
    }
    ASSERT_GT(walking_away.moving_total, 300);
    ASSERT_GT(revealed.static_total, 2000);
    EXPECT_GE(walking_away.moving_dynamic, walking_away.moving_total * 80 / 100);
    EXPECT_LE(walking_away.static_dynamic, walking_away.static_total / 200);
    // The side of the second walker, grazing the wall as it passes, hides a few wall points
    // longer the older the frame, as something walking away would.
    EXPECT_LE(revealed.static_dynamic, revealed.static_total / 100);
  }
}

TEST(DynamicCloudDetector, KeepsStructureStaticSeenFromAHighOrFlippedMount) {
  // A 16-ring lidar (-15 to +15 degrees every 2 degrees) 1.0 m up, upright and upside down, on a
  // robot driving along an aisle between racks 1.7 m to each side, then turning on the spot: of
  // the kept band (up to 0.666 m) it sees only a few rings on the racks, and only from a
  // distance on, so most of the camera's image lies outside the sensor's view or the band. For
  // two seconds a person walks beside the robot, 0.7 m ahead and to the side: their body above
  // the height cut shadows the racks, and their returns there are cut away.
  for (const bool flipped : {false, true}) {
    SCOPED_TRACE(flipped ? "upside down" : "upright");
    const perception_test::Sensor sensor{1.0F, -15.0F, 15.0F};
    Eigen::Matrix4f lidar_to_base = Eigen::Matrix4f::Identity();
    if (flipped) {
      lidar_to_base.topLeftCorner<3, 3>() =
          Eigen::AngleAxisf(perception_test::kPi, Eigen::Vector3f::UnitX()).toRotationMatrix();
    }
    lidar_to_base(2, 3) = sensor.height;
    // The camera looking along lidar azimuth 45 degrees: base azimuth -45 when flipped.
    CameraInfo camera = defaultCamera();
    Eigen::Matrix4f camera_to_lidar = defaultCamera().camera_to_base;
    camera_to_lidar(2, 3) = 0.0F;
    camera.camera_to_base = lidar_to_base * camera_to_lidar;
    const float az_begin = flipped ? -90.0F : 0.0F;
    DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
    ASSERT_TRUE(detector.Init(camera));
    const std::vector<Box> racks = {{{-5.0F, 1.7F, 0.0F}, {15.0F, 2.7F, 3.0F}, 1},
                                    {{-5.0F, -2.7F, 0.0F}, {15.0F, -1.7F, 3.0F}, 2},
                                    {{4.0F, -1.7F, 0.0F}, {5.2F, -0.9F, 0.9F}, 3}};
    Shares total;
    for (int k = 0; k < 80; ++k) {
      // 0.5 m/s for 4 s, then turning at 30 degrees/s.
      const Pose pose{0.05F * std::min(k, 40), 0.0F, 0.0524F * std::max(0, k - 40)};
      std::vector<Box> scene = racks;
      if (k >= 10 && k < 30) {
        const float x = pose.x + 0.7F;
        const float y = flipped ? -0.7F : 0.7F;
        scene.push_back({{x - 0.2F, y - 0.2F, 0.0F}, {x + 0.2F, y + 0.2F, 1.75F}, 9});
      }
      Frame frame;
      addObstacleHits(
          perception_test::scan(pose, scene, az_begin, az_begin + 90.0F, 0.2F, 2.0F, sensor),
          frame);
      detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
      total.add(divideAsClusters(detector, frame));
    }
    ASSERT_GT(total.static_total, 5000);
    EXPECT_LE(total.static_dynamic, total.static_total / 200);
  }
}

// A 16-ring lidar 1.2 m up on a robot creeping forward at 0.3 m/s in an open hall; a person
// crosses 3 m ahead at 1 m/s, a pillar stands nearby. Behind the person the rings reach only the
// floor. Dynamic shares of the person and the pillar over frames [first, last], with or without
// the floor handed to the detector.
Shares highMountCrossing(bool with_floor, int first, int last) {
  const perception_test::Sensor sensor{1.2F, -15.0F, 15.0F};
  CameraInfo camera = defaultCamera();
  camera.camera_to_base(2, 3) = sensor.height;
  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  EXPECT_TRUE(detector.Init(camera));
  const Box pillar{{2.0F, 2.4F, 0.0F}, {2.3F, 2.7F, 2.5F}, 1};
  Shares total;
  for (int k = 0; k <= last; ++k) {
    const Pose pose{0.03F * k, 0.0F, 0.0F};
    const float walker_y = 0.3F + 0.1F * k;
    std::vector<Box> scene = {pillar, {{3.0F, walker_y, 0.0F}, {3.4F, walker_y + 0.4F, 1.75F}, 9}};
    Frame frame;
    addObstacleHits(perception_test::scan(pose, scene, 0.0F, 90.0F, 0.2F, 2.0F, sensor), frame);
    detector.Update(frame.cloud, pose.baseToMap(), false, with_floor ? frame.floor : nullptr);
    const Shares shares = divideAsClusters(detector, frame);
    if (k >= first) {
      total.add(shares);
    }
  }
  return total;
}

TEST(DynamicCloudDetector, SeesAWalkerFromAHighMountByItsTrackOrThroughTheFloorBehindIt) {
  struct Case {
    const char* what;
    bool with_floor;
    int first;
    int last;
    int percent;
  };
  // Without the floor no earlier image holds a return behind where the person is now: only
  // following the person's cluster across the map shows the motion, once the track is long
  // enough. With it, the earlier frames' rays that reached the floor there show the place was
  // empty: the person turns dynamic as soon as two frames are old enough to compare, long before
  // a track could be (without the floor: nothing before frame 9). The body's back stays where its
  // front was a few frames ago, so the share grows over those first frames.
  for (const Case& c : {Case{"tracked, no floor", false, 10, 34, 80},
                        Case{"first frames, floor", true, 3, 8, 60}}) {
    SCOPED_TRACE(c.what);
    const Shares total = highMountCrossing(c.with_floor, c.first, c.last);
    ASSERT_GT(total.moving_total, 100);
    ASSERT_GT(total.static_total, 100);
    EXPECT_GE(total.moving_dynamic, total.moving_total * c.percent / 100);
    EXPECT_EQ(total.static_dynamic, 0);
  }
}

TEST(DynamicCloudDetector, FollowsAWalkerAcrossTheBorderToTheNeighbouringCamera) {
  // The camera's right edge is the robot's heading (azimuth 0). A person walks straight ahead
  // along that edge, half of them in the neighbouring camera's view, while the robot creeps after
  // them; then the robot turns on the spot, sweeping the same edge across a pillar, whose visible
  // part grows while the pillar stays where it is. The visible half's centre would move with the
  // cut in both cases; its side away from the edge moves only with the body.
  CameraInfo camera = defaultCamera();
  const Box pillar{{2.0F, 2.4F, 0.0F}, {2.3F, 2.7F, 2.5F}, 1};
  {
    SCOPED_TRACE("walker along the edge");
    DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
    ASSERT_TRUE(detector.Init(camera));
    Shares total;
    int frames_called_moving = 0;
    for (int k = 0; k < 30; ++k) {
      const Pose pose{0.05F * k, 0.0F, 0.0F};
      const float walker_x = 3.0F + 0.08F * k;
      std::vector<Box> scene = {pillar,
                                {{walker_x, -0.2F, 0.0F}, {walker_x + 0.3F, 0.25F, 1.75F}, 9}};
      const Frame frame = obstacleFrame(pose, scene);
      detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
      const Shares shares = divideAsClusters(detector, frame);
      // Four frames make a track; from the fifth on the walk is seen.
      if (k >= 4) {
        total.add(shares);
        frames_called_moving += shares.moving_dynamic * 2 > shares.moving_total ? 1 : 0;
      }
    }
    ASSERT_GT(total.moving_total, 300);
    ASSERT_GT(total.static_total, 300);
    EXPECT_EQ(frames_called_moving, 26);
    EXPECT_EQ(total.static_dynamic, 0);
  }
  {
    SCOPED_TRACE("pillar swept by the edge");
    DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
    ASSERT_TRUE(detector.Init(camera));
    // A pillar 3 m away at azimuth -20 degrees enters the camera's view across its right edge as
    // the robot turns right at 15 degrees per second.
    const Box swept{{2.7F, -1.25F, 0.0F}, {3.0F, -0.95F, 2.5F}, 1};
    int total = 0;
    int dynamic = 0;
    for (int k = 0; k < 30; ++k) {
      const Pose pose{0.0F, 0.0F, -0.026F * k};
      const Frame frame = obstacleFrame(pose, {swept, pillar});
      detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
      const Shares shares = divideAsClusters(detector, frame);
      total += shares.static_total;
      dynamic += shares.static_dynamic;
    }
    ASSERT_GT(total, 300);
    EXPECT_EQ(dynamic, 0);
  }
  {
    SCOPED_TRACE("wall sliver ending at a passer-by's shadow");
    DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
    ASSERT_TRUE(detector.Init(camera));
    // The camera's left edge is the robot's left (azimuth 90). The robot drives beside a wall
    // 1.1 m to its left while someone walks between them a little faster. The wall between the
    // edge and their shadow is a short piece whose far side slides along with them: followed by
    // that side, it would travel, and all of it would be called moving.
    const Box wall{{-10.0F, 1.1F, 0.0F}, {20.0F, 1.3F, 2.5F}, 1};
    int total = 0;
    int frames_moving_as_a_body = 0;
    for (int k = 0; k < 40; ++k) {
      const Pose pose{0.05F * k, 0.0F, 0.0F};
      const float walker_x = 0.3F + 0.07F * k;
      const Frame frame =
          obstacleFrame(pose, {wall, {{walker_x, 0.4F, 0.0F}, {walker_x + 0.3F, 0.7F, 1.75F}, 9}});
      detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
      // The sliver as the clusterer gives it: the wall's points up to the shadow.
      pcl::PointCloud<pcl::PointXYZ> sliver;
      const float shadow_start = 1.1F / 0.7F * (walker_x - pose.x);
      for (std::size_t i = 0; i < frame.cloud->size(); ++i) {
        if (frame.ids[i] == 1 && frame.cloud->points[i].x < shadow_start) {
          sliver.points.push_back(frame.cloud->points[i]);
        }
      }
      pcl::PointCloud<pcl::PointXYZ> moved;
      pcl::PointCloud<pcl::PointXYZ> stayed;
      detector.DivideCloud(sliver, moved, stayed);
      total += static_cast<int>(sliver.size());
      frames_moving_as_a_body += !sliver.empty() && stayed.empty() ? 1 : 0;
    }
    ASSERT_GT(total, 300);
    EXPECT_EQ(frames_moving_as_a_body, 0);
  }
}

TEST(DynamicCloudDetector, KeepsTheTopsOfLowObjectsStaticUnderASparseSensor) {
  // A 16-line lidar (-15 to +15 degrees, every 2 degrees) on a robot driving at 0.5 m/s towards
  // a low box and a drawer unit. As the robot comes closer, the line that hits a top edge now
  // passed over it in earlier frames and reached the wall behind, while the next line down hit
  // the object there.
  const perception_test::Sensor sensor{0.3F, -15.0F, 15.0F};
  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  ASSERT_TRUE(detector.Init(defaultCamera()));
  Shares total;
  for (int k = 0; k < 40; ++k) {
    const Pose pose{0.05F * static_cast<float>(k) - 1.0F, 0.0F, 0.0F};
    std::vector<Box> boxes = {room()[0], room()[1]};
    boxes.push_back({{2.6F, 0.6F, 0.0F}, {3.1F, 1.2F, 0.45F}, 5});
    boxes.push_back({{2.2F, 2.0F, 0.0F}, {2.6F, 2.8F, 0.6F}, 6});
    Frame frame;
    addObstacleHits(perception_test::scan(pose, boxes, 0.0F, 90.0F, 0.5F, 2.0F, sensor), frame);
    detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
    if (k >= 12) {
      total.add(divide(detector, frame, -1));
    }
  }
  ASSERT_GT(total.static_total, 3000);
  EXPECT_LE(total.static_dynamic, total.static_total / 200);
}

TEST(DynamicCloudDetector, CallsAPersonWhoSetsOffStraightAwayDynamicWithinAFewFrames) {
  // A person stands on the camera's axis for 15 frames, then walks straight away at 1 m/s: the
  // frames from before they set off all hid their place by the same gap. A post stands just
  // beside and behind them, and the robot creeping past sweeps the person's silhouette across it
  // while the post's own view grows.
  for (const bool robot_moves : {false, true}) {
    SCOPED_TRACE(robot_moves ? "robot creeping past" : "robot standing");
    DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
    ASSERT_TRUE(detector.Init(defaultCamera()));
    Shares early;
    Shares post;
    for (int k = 0; k < 26; ++k) {
      const Pose pose{robot_moves ? 0.03F * k : 0.0F, robot_moves ? -0.02F * k : 0.0F, 0.0F};
      std::vector<Box> boxes = {room()[0], room()[1]};
      boxes.push_back({{1.95F, 1.25F, 0.0F}, {2.05F, 1.35F, 1.0F}, 5});
      const float along = 1.8F + (k < 15 ? 0.0F : 0.1F * static_cast<float>(k - 15));
      const float x = along * 0.7071F;
      const float y = along * 0.7071F;
      boxes.push_back({{x - 0.2F, y - 0.2F, 0.0F}, {x + 0.2F, y + 0.2F, 1.7F}, 9});
      const Frame frame = obstacleFrame(pose, boxes);
      detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
      const Shares s = divideAsClusters(detector, frame);
      if (k >= 20) {
        early.add(s);  // 5 to 10 frames after setting off: 0.5 to 1 m walked
      }
      post.add(s);
    }
    ASSERT_GT(early.moving_total, 300);
    ASSERT_GT(post.static_total, 1000);
    EXPECT_GE(early.moving_dynamic, early.moving_total * 80 / 100);
    EXPECT_LE(post.static_dynamic, post.static_total / 200);
  }
}

TEST(DynamicCloudDetector, CallsAWalkerComingHeadOnDynamicOnceItsGapPassesTheFixedMargin) {
  // A walker comes straight at the robot at 1.5 m/s, along the axis of a camera looking along x,
  // in front of a wall 4.5 m away; both face the sensor. Its earlier selves stood farther along
  // the same rays, 0.15 m per frame of age. A surface facing the sensor needs no allowance for a
  // slant beyond the fixed depth_margin (0.2 m), so the frames two and three frames old (0.3 and
  // 0.45 m behind) both see through its place in its fourth frame. Five centimetres per metre for
  // a slant, at 3.7 m, would let only the older one count and hold the walker back a frame.
  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  ASSERT_TRUE(detector.Init(cameraFrom(-45.0F)));
  int first_dynamic = -1;
  Shares total;
  for (int k = 0; k < 8; ++k) {
    const float front = 4.1F - 0.15F * static_cast<float>(k);
    const std::vector<Box> boxes = {room()[0],
                                    {{front, -0.25F, 0.0F}, {front + 0.3F, 0.25F, 1.7F}, 9}};
    Frame frame;
    addObstacleHits(perception_test::scan(Pose{}, boxes, -45.0F, 45.0F, 0.5F), frame);
    detector.Update(frame.cloud, Pose{}.baseToMap(), false, frame.floor);
    const Shares s = divide(detector, frame, 9);
    if (first_dynamic < 0 && s.moving_total > 0 && 2 * s.moving_dynamic > s.moving_total) {
      first_dynamic = k;
    }
    total.add(s);
  }
  EXPECT_EQ(first_dynamic, 3);
  ASSERT_GT(total.static_total, 1000);
  EXPECT_LE(total.static_dynamic, total.static_total / 200);
}

TEST(DynamicCloudDetector, KeepsNewlyVisibleAndBrieflyOccludedStructureStatic) {
  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  ASSERT_TRUE(detector.Init(defaultCamera()));
  // A standing screen hides part of the wall for the first frames and is then taken away; the
  // robot also turns from facing away (the room outside the camera) towards the room.
  for (int k = 0; k < 20; ++k) {
    const Pose pose{0.0F, 0.0F, k < 5 ? -1.6F : 0.0F};
    std::vector<Box> boxes = room();
    if (k < 12) {
      boxes.push_back({{2.8F, 1.5F, 0.0F}, {3.0F, 3.5F, 1.5F}, 5});
    }
    const Frame frame = obstacleFrame(pose, boxes);
    detector.Update(frame.cloud, pose.baseToMap(), false, frame.floor);
    if (k >= 5) {
      SCOPED_TRACE(k);
      const Shares s = divide(detector, frame, -1);
      EXPECT_EQ(s.static_dynamic, 0) << "of " << s.static_total;
    }
  }
}

// Like obstacleFrame, but as a spinning lidar takes it while the robot moves: the sweep starts
// behind the sensor (azimuth 180) and turns clockwise once per 0.1 s frame, each column is cast
// from the pose of its own instant and stays in the base frame of that instant, and the frame is
// stamped with the pose at its start. `at` gives the pose at a time in seconds; azimuths
// [az_begin, az_end) in degrees, within -180..180.
template <typename PoseAt>
Frame smearedFrame(PoseAt at, float frame_start, const std::vector<Box>& boxes,
                   float az_begin = 0.0F, float az_end = 90.0F) {
  Frame f;
  for (float az = az_begin; az < az_end; az += 0.5F) {
    const float t = frame_start + 0.1F * std::fmod(180.0F - az, 360.0F) / 360.0F;
    addObstacleHits(perception_test::scan(at(t), boxes, az, az + 0.25F, 0.5F), f);
  }
  return f;
}

TEST(DynamicCloudDetector, KeepsStructureStaticWhenTheRobotStartsAndStopsTurning) {
  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  ASSERT_TRUE(detector.Init(defaultCamera()));
  // The robot stands for 1 s, turns in place at 60 degrees/s for 1 s, then stands again: scans
  // taken while turning are smeared by up to 6 degrees, the others not at all.
  auto pose_at = [](float t) {
    const float turning = std::min(std::max(t - 1.0F, 0.0F), 1.0F);
    return Pose{0.0F, 0.0F, -0.5F + 1.047F * turning};
  };
  Shares total;
  for (int k = 0; k < 30; ++k) {
    const float start = 0.1F * k;
    const Frame frame = smearedFrame(pose_at, start, room());
    detector.Update(frame.cloud, pose_at(start).baseToMap(), false, frame.floor);
    total.add(divide(detector, frame, -1));
  }
  ASSERT_GT(total.static_total, 5000);
  EXPECT_LE(total.static_dynamic, total.static_total / 200);
}

// Two cameras side by side, `first` seeing azimuths first_start..+90 and `second` the 90 degrees
// before them, optionally sharing their histories.
struct CameraPair {
  std::shared_ptr<DynamicCloudDetector> first;
  std::shared_ptr<DynamicCloudDetector> second;
};

CameraPair cameraPair(float first_start_deg, bool shared) {
  CameraPair pair{std::make_shared<DynamicCloudDetector>(PERCEPTION_DEFAULT_YAML),
                  std::make_shared<DynamicCloudDetector>(PERCEPTION_DEFAULT_YAML)};
  EXPECT_TRUE(pair.first->Init(cameraFrom(first_start_deg)));
  EXPECT_TRUE(pair.second->Init(cameraFrom(first_start_deg - 90.0F)));
  if (shared) {
    const std::vector<std::shared_ptr<DynamicCloudDetector>> both = {pair.first, pair.second};
    pair.first->ShareHistoryWith(both);
    pair.second->ShareHistoryWith(both);
  }
  return pair;
}

TEST(DynamicCloudDetector, AsksTheNeighbouringCameraAboutPlacesTheRobotTurnedTowards) {
  // The robot turns right on the spot at 30 degrees per second while a person walks straight at
  // it, 10 degrees right of where it first looked: the person passes from the right camera's view
  // (azimuths -90..0) into the left one's (0..90). In the left camera's first frames of them its
  // earlier frames looked farther left; only the right camera's saw the place they walked into.
  const Box pillar{{2.0F, 1.6F, 0.0F}, {2.3F, 1.9F, 2.5F}, 1};
  const Box cabinet{{2.2F, -2.6F, 0.0F}, {2.8F, -2.0F, 1.2F}, 2};
  Shares alone;
  Shares shared;
  for (const bool share : {false, true}) {
    SCOPED_TRACE(share ? "shared histories" : "each camera alone");
    const CameraPair cameras = cameraPair(0.0F, share);
    Shares& entering = share ? shared : alone;
    for (int k = 0; k < 24; ++k) {
      const Pose pose{0.0F, 0.0F, 0.4F - 0.052F * k};
      const float range = 4.2F - 0.1F * k;
      const float cx = range * std::cos(-0.17F);
      const float cy = range * std::sin(-0.17F);
      const std::vector<Box> scene = {
          pillar, cabinet, {{cx - 0.15F, cy - 0.22F, 0.0F}, {cx + 0.15F, cy + 0.22F, 1.75F}, 9}};
      Frame left;
      addObstacleHits(perception_test::scan(pose, scene, 0.0F, 90.0F, 0.5F), left);
      Frame right;
      addObstacleHits(perception_test::scan(pose, scene, -90.0F, 0.0F, 0.5F), right);
      cameras.first->Update(left.cloud, pose.baseToMap(), false, left.floor);
      cameras.second->Update(right.cloud, pose.baseToMap(), false, right.floor);
      const Shares left_shares = divideAsClusters(*cameras.first, left);
      const Shares right_shares = divideAsClusters(*cameras.second, right);
      // The walker's middle 2 to 12 degrees inside the left camera.
      const float azimuth = std::atan2(cy, cx) - pose.yaw;
      if (azimuth > 0.035F && azimuth < 0.21F) {
        entering.moving_total += left_shares.moving_total;
        entering.moving_dynamic += left_shares.moving_dynamic;
      }
      EXPECT_EQ(left_shares.static_dynamic, 0) << "frame " << k;
      EXPECT_EQ(right_shares.static_dynamic, 0) << "frame " << k;
    }
  }
  ASSERT_GT(shared.moving_total, 100);
  EXPECT_EQ(shared.moving_total, alone.moving_total);
  EXPECT_LT(alone.moving_dynamic, alone.moving_total / 4);
  EXPECT_GT(shared.moving_dynamic, shared.moving_total * 3 / 4);
}

TEST(DynamicCloudDetector, AllowsForTheSweepBetweenTwoCamerasWhileTheRobotTurns) {
  // Two cameras behind the robot on either side of where the sweep starts and ends (azimuth 180):
  // the left one's sector (90..180) is taken in the first quarter of every sweep, the right one's
  // (-180..-90) in the last. The robot turns right at 60 degrees per second in a static room, so
  // the places the right camera sees now were in the left one's view a few frames ago, in scans
  // smeared up to 6 degrees apart from its own.
  const std::vector<Box> room_behind = {{{-4.7F, -6.0F, 0.0F}, {-4.5F, 6.0F, 2.0F}, 1},
                                        {{-6.0F, -4.7F, 0.0F}, {4.7F, -4.5F, 2.0F}, 2},
                                        {{-6.0F, 4.5F, 0.0F}, {4.7F, 4.7F, 2.0F}, 3},
                                        {{-2.6F, 0.8F, 0.0F}, {-2.0F, 1.2F, 0.9F}, 4},
                                        {{-1.4F, -2.7F, 0.0F}, {-1.2F, -2.5F, 2.0F}, 5},
                                        {{-3.0F, -1.0F, 0.0F}, {-2.8F, -0.8F, 2.0F}, 6}};
  auto pose_at = [](float t) { return Pose{0.0F, 0.0F, -1.047F * t}; };
  const CameraPair cameras = cameraPair(90.0F, true);
  Shares total;
  for (int k = 0; k < 30; ++k) {
    const float start = 0.1F * k;
    const Frame left = smearedFrame(pose_at, start, room_behind, 90.0F, 180.0F);
    const Frame right = smearedFrame(pose_at, start, room_behind, -180.0F, -90.0F);
    cameras.first->Update(left.cloud, pose_at(start).baseToMap(), false, left.floor);
    cameras.second->Update(right.cloud, pose_at(start).baseToMap(), false, right.floor);
    total.add(divide(*cameras.first, left, -1));
    total.add(divide(*cameras.second, right, -1));
  }
  ASSERT_GT(total.static_total, 5000);
  EXPECT_LE(total.static_dynamic, total.static_total / 200);
}

TEST(DynamicCloudDetector, GapsBetweenTheLinesOfASparseScanAreNotFreeSpace) {
  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  ASSERT_TRUE(detector.Init(defaultCamera()));
  // A scanner that samples every third degree of elevation, starting one degree higher each
  // frame: each frame sees the room through other gaps than the frames before it (gaps of two
  // to three depth-image rows, the camera's projection stretching them towards its sides).
  Shares total;
  for (int k = 0; k < 20; ++k) {
    const Frame dense = obstacleFrame({}, room());
    auto sampled = [&](const pcl::PointXYZ& p) {
      const float elevation_deg =
          std::atan2(p.z - perception_test::kLidarHeight, std::hypot(p.x, p.y)) * 180.0F /
          perception_test::kPi;
      const int row = static_cast<int>(std::lround(elevation_deg + 7.0F));
      return (row + 30 - k % 3) % 3 == 0;
    };
    Frame frame;
    for (std::size_t i = 0; i < dense.cloud->size(); ++i) {
      if (sampled(dense.cloud->points[i])) {
        frame.cloud->points.push_back(dense.cloud->points[i]);
        frame.ids.push_back(dense.ids[i]);
      }
    }
    for (const auto& p : dense.floor->points) {
      if (sampled(p)) {
        frame.floor->points.push_back(p);
      }
    }
    detector.Update(frame.cloud, Pose{}.baseToMap(), false, frame.floor);
    total.add(divide(detector, frame, -1));
  }
  ASSERT_GT(total.static_total, 2000);
  EXPECT_LE(total.static_dynamic, total.static_total / 200);
}

TEST(DynamicCloudDetector, SplitsClustersAndRefusesBadSetup) {
  const std::string dir = ::testing::TempDir();
  auto write = [&](const std::string& name, const std::string& text) {
    const std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
  };
  EXPECT_THROW(DynamicCloudDetector(dir + "/does_not_exist.yaml"), std::runtime_error);
  EXPECT_THROW(DynamicCloudDetector(write("broken.yaml", "dynamic_cloud_detector: [1, 2\n")),
               std::runtime_error);
  EXPECT_THROW(DynamicCloudDetector(write("no_section.yaml", "other: 1\n")), std::runtime_error);
  // One bad value per file: a wrong type, then values below each key's minimum.
  for (const char* bad :
       {"history_frames: many", "min_free_votes: 0", "spread_radius: -0.1",
        "recession_min_step: -0.01", "track_window: 3", "track_min_step: -0.04"}) {
    EXPECT_THROW(DynamicCloudDetector(write(
                     "bad_value.yaml", std::string("dynamic_cloud_detector:\n  ") + bad + "\n")),
                 std::runtime_error)
        << bad;
  }
  DynamicCloudDetector partial(
      write("partial.yaml", "dynamic_cloud_detector:\n  history_frames: 4\n"));
  EXPECT_EQ(partial.config().history_frames, 4);
  EXPECT_EQ(partial.config().min_free_votes, 2) << "absent keys keep their defaults";

  {
    // The node's region and view replace the file's; everything else stays the file's.
    DynamicCloudDetectorConfig::NodeLimits limits;
    limits.roi_x_max = 9.0F;
    limits.roi_y_max = 3.5F;
    limits.roi_z_max = 1.25F;
    limits.sensor_max_elevation_deg = 42.0F;
    const std::string file =
        write("limits.yaml", "dynamic_cloud_detector:\n  roi_x_max: 5.0\n  history_frames: 6\n");
    const DynamicCloudDetector handed(file, limits);
    EXPECT_FLOAT_EQ(handed.config().roi_x_max, 9.0F);
    EXPECT_FLOAT_EQ(handed.config().roi_y_max, 3.5F);
    EXPECT_FLOAT_EQ(handed.config().roi_z_max, 1.25F);
    EXPECT_FLOAT_EQ(handed.config().sensor_max_elevation_deg, 42.0F);
    EXPECT_EQ(handed.config().history_frames, 6);
    limits.sensor_max_elevation_deg.reset();
    EXPECT_FLOAT_EQ(DynamicCloudDetector(file, limits).config().sensor_max_elevation_deg, 30.0F)
        << "without a cone cut the file's upper edge stays";
    for (const float bad_elevation : {-7.0F, -20.0F, 90.0F}) {
      limits.sensor_max_elevation_deg = bad_elevation;
      EXPECT_THROW(DynamicCloudDetector(file, limits), std::invalid_argument) << bad_elevation;
    }
    limits.sensor_max_elevation_deg = 30.0F;
    limits.roi_y_max = 0.0F;
    EXPECT_THROW(DynamicCloudDetector(file, limits), std::invalid_argument);
  }

  DynamicCloudDetector detector(PERCEPTION_DEFAULT_YAML);
  CameraInfo bad = defaultCamera();
  bad.width = 0;
  EXPECT_FALSE(detector.Init(bad));
  bad = defaultCamera();
  bad.intrinsics(0, 0) = std::nanf("");
  EXPECT_FALSE(detector.Init(bad));

  // Uninitialised, every point is static; updates are ignored without harm.
  pcl::PointCloud<pcl::PointXYZ> cluster;
  cluster.points = {{2.0F, 2.0F, 0.3F}, {2.0F, 2.1F, std::nanf("")}};
  detector.Update(nullptr, Eigen::Matrix4f::Identity(), false);
  pcl::PointCloud<pcl::PointXYZ> dynamic;
  pcl::PointCloud<pcl::PointXYZ> static_cloud;
  detector.DivideCloud(cluster, dynamic, static_cloud);
  EXPECT_EQ(dynamic.size(), 0U);
  EXPECT_EQ(static_cloud.size(), 2U);

  // A point in front of the wall, where three earlier frames saw only the wall behind it:
  // dynamic; a non-finite pose is ignored; `flag` clears the history.
  ASSERT_TRUE(detector.Init(defaultCamera()));
  const std::vector<Box> wall = {room()[0]};
  for (int k = 0; k < 3; ++k) {
    detector.Update(obstacleFrame({}, wall).cloud, Eigen::Matrix4f::Identity(), false);
  }
  Eigen::Matrix4f broken = Eigen::Matrix4f::Identity();
  broken(0, 3) = std::nanf("");
  detector.Update(obstacleFrame({}, wall).cloud, broken, false);
  detector.Update(obstacleFrame({}, wall).cloud, Eigen::Matrix4f::Identity(), false);
  dynamic.clear();
  static_cloud.clear();
  detector.DivideCloud(cluster, dynamic, static_cloud);
  EXPECT_EQ(dynamic.size(), 1U);
  EXPECT_EQ(static_cloud.size(), 1U);
  EXPECT_EQ(dynamic.width, 1U);
  detector.Update(obstacleFrame({}, wall).cloud, Eigen::Matrix4f::Identity(), true);
  EXPECT_FALSE(detector.isDynamic(cluster.points[0]));
}

}  // namespace
