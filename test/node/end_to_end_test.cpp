// Simulated scans with their TF through the in-process graph into the node; the published
// dynamic and static obstacles are checked point by point against the simulator's ground truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include <tf2_ros/transform_broadcaster.h>

#include "lidar_sim/frame_messages.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/output_truth.hpp"
#include "lidar_sim/scenario.hpp"
#include "node_harness.hpp"

namespace lidar_perception {
namespace {

using corvanta_protocol::msg::SemanticPointCloud;
using sensor_msgs::msg::CameraInfo;
using sensor_msgs::msg::PointCloud2;

TEST(EndToEnd, SimulatedOfficeScansBecomeDynamicAndStaticObstacles) {
  lidar_sim::Scenario scenario =
      lidar_sim::loadScenario(std::string(SCENARIO_DIR) + "/office_crossing.yaml");
  lidar_sim::LidarSimulator simulator(scenario);
  constexpr uint32_t kFrames = 25;

  // One camera looking ahead, where the scenario's people cross.
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false", "-p", "vir_cam_0.horizontal_start_pos:=-45.0", "-p",
                       "vir_cam_0.horizontal_end_pos:=45.0", "-p", "get_tf_duration:=0.5"},
                      /*provide_map_pose=*/false);
  Recorder<SemanticPointCloud> dynamic_topic(
      harness.helper(), "/livox/virtual_camera0_semantic_dynamic_obstacles", rclcpp::QoS(100));
  Recorder<SemanticPointCloud> static_topic(
      harness.helper(), "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(100));
  Recorder<CameraInfo> camera_infos(harness.helper(), "virtual_camera_01_00_camera_info",
                                    rclcpp::QoS(100));
  Recorder<PointCloud2> coloured(harness.helper(), "/livox/virtual_camera0_dynamic_obstacles",
                                 rclcpp::SensorDataQoS().keep_last(100));
  auto scans = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);
  tf2_ros::TransformBroadcaster poses(harness.helperPtr());

  lidar_sim::TruthCounts on_dynamic;
  lidar_sim::TruthCounts on_static;
  for (uint32_t k = 0; k < kFrames; ++k) {
    const lidar_sim::SimulatedFrame frame = simulator.simulateFrame(k);
    poses.sendTransform(lidar_sim::robotPoseTransform(frame));
    scans->publish(lidar_sim::toPointCloud2(frame));
    // One frame at a time: the subscription keeps only the latest scan.
    ASSERT_TRUE(static_topic.waitFor(k + 1, std::chrono::seconds(10))) << "frame " << k;
    ASSERT_TRUE(dynamic_topic.waitFor(k + 1, std::chrono::seconds(10))) << "frame " << k;
    EXPECT_EQ(dynamic_topic.messages()[k].header.stamp, lidar_sim::toTimeMsg(frame.stamp_ns));
    if (k < 5) {
      continue;  // the motion detector needs a few frames of history
    }
    const lidar_sim::TruthIndex index(frame);
    lidar_sim::countTruths(dynamic_topic.messages()[k], index, on_dynamic);
    lidar_sim::countTruths(static_topic.messages()[k], index, on_static);
  }

  // Every published obstacle point is a scan point moved into the base frame.
  EXPECT_EQ(on_dynamic.unmatched + on_static.unmatched, 0u);
  ASSERT_GT(on_dynamic.total(), 100u);
  ASSERT_GT(on_static.total(), 100u);
  const lidar_sim::SplitQuality quality = lidar_sim::splitQuality(on_dynamic, on_static);
  std::printf("dynamic precision %.3f, static precision %.3f, walking-people recall %.3f\n",
              quality.dynamic_precision, quality.static_precision, quality.moving_recall);
  std::printf(
      "dynamic output: %zu walking, %zu standing, %zu structure, %zu ground points; static "
      "output: %zu walking, %zu standing, %zu structure, %zu ground points\n",
      on_dynamic.moving, on_dynamic.standing, on_dynamic.structure, on_dynamic.ground,
      on_static.moving, on_static.standing, on_static.structure, on_static.ground);
  EXPECT_GT(quality.dynamic_precision, 0.9) << "walls and furniture published as dynamic";
  EXPECT_GT(quality.static_precision, 0.85) << "walking people published as static";
  EXPECT_GT(quality.moving_recall, 0.7) << "walking people not found dynamic";

  // Camera info goes out on the first frame and then every tenth.
  ASSERT_TRUE(camera_infos.waitFor(3));
  const auto infos = camera_infos.messages();
  ASSERT_EQ(infos.size(), 3u);
  EXPECT_EQ(infos[0].header.stamp, lidar_sim::toTimeMsg(simulator.frameStampNs(0)));
  EXPECT_EQ(infos[1].header.stamp, lidar_sim::toTimeMsg(simulator.frameStampNs(10)));
  EXPECT_EQ(infos[2].header.stamp, lidar_sim::toTimeMsg(simulator.frameStampNs(20)));

  // The coloured cloud carries the same points with their cluster colours.
  ASSERT_TRUE(coloured.waitFor(kFrames));
  const auto last_coloured = coloured.messages().back();
  const SemanticPointCloud last_dynamic = dynamic_topic.messages().back();
  size_t dynamic_points = 0;
  for (const auto& obstacle : last_dynamic.obstacles) {
    dynamic_points += obstacle.cloud.width * obstacle.cloud.height;
  }
  EXPECT_EQ(last_coloured.width, dynamic_points);
  EXPECT_EQ(last_coloured.point_step, 32u);
  EXPECT_EQ(log.countOf("getTransformMatrix: base_footprint -> map is failed!"), 0u);
}

}  // namespace
}  // namespace lidar_perception
