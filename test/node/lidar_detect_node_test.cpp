// The node's configuration, intake and run-time parameter updates, driven in-process the way
// the program runs it. Expected texts and values are written out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <pcl_conversions/pcl_conversions.h>
#include <lifecycle_msgs/msg/state.hpp>

#include "node_harness.hpp"

namespace lidar_perception {
namespace {

using namespace std::chrono_literals;
using sensor_msgs::msg::CameraInfo;
using sensor_msgs::msg::PointCloud2;

// Checks that `expected` appears in `lines` in order (other lines may come between).
void expectSubsequence(const std::vector<std::string>& lines,
                       const std::vector<std::string>& expected) {
  size_t next = 0;
  for (const auto& line : lines) {
    if (next < expected.size() && line == expected[next]) {
      ++next;
    }
  }
  EXPECT_EQ(next, expected.size())
      << "missing or out of order: " << (next < expected.size() ? expected[next] : "");
}

PointCloud2 wallScan(float x = 2.0f) {
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (int i = 0; i < 20; ++i) {
    for (int k = 0; k < 10; ++k) {
      cloud.push_back({x, 1.0f + 0.05f * static_cast<float>(i), -0.2f + 0.05f * k});
    }
  }
  PointCloud2 msg;
  pcl::toROSMsg(cloud, msg);
  msg.header.frame_id = "3d_lidar_link";
  msg.header.stamp.sec = 100;
  msg.header.stamp.nanosec = 5;
  return msg;
}

TEST(LidarDetectNodeConfiguration, DefaultsAreReadAndLoggedInOrder) {
  LogCapture log;
  NodeHarness harness({});
  auto peer = harness.peer();
  EXPECT_TRUE(harness.node().configured());
  EXPECT_EQ(harness.node().get_current_state().id(),
            lifecycle_msgs::msg::State::PRIMARY_STATE_ACTIVE);
  expectSubsequence(
      log.lines(),
      {"start to initialize 3d_lidar_detect node",
       "start to get common parameters",
       "lidar_id = 1",
       "debug = true",
       "pub_sem_info = true",
       "pub_cloud_info = true",
       "pub_virtual_camera_tf = false",
       "get_tf_duration = 0.02",
       "tf_buf_cache_time = 10",
       "enable_roi_filter = true",
       "x_large = 5",
       "y_large = 5",
       "x_small_front = 0.41",
       "x_small_back = -0.315",
       "y_small = 0.255",
       "enable_dynamic_static_split = true",
       "map_frame_id = map",
       "base_frame_id = base_footprint",
       "lidar_frame_id = 3d_lidar_link",
       "lidar_topic = /cloud_registered_body",
       "topic_type = 0",
       "dynamic_ratio = 0.7",
       "static_ratio = 0.3",
       "enable_detector_thread = false",
       "post_fusion.threshold = 0.7",
       "virtual_cameras_num = 1",
       "vir_cam_0_vertical_up_pos = 52",
       "vir_cam_0_vertical_down_pos = -7",
       "vir_cam_0_horizontal_start_pos = 0",
       "vir_cam_0_horizontal_end_pos = 90",
       "vir_cam_0_frame_id = virtual_camera0_color_optical_frame",
       "vir_cam_0_width = 1280",
       "vir_cam_0_height = 800",
       "vir_cam_0_lidar_semantic_obstacles_topic = /livox/virtual_camera0_semantic_obstacles",
       "vir_cam_0_lidar_obstacles_topic = /livox/virtual_camera0_obstacles",
       "vir_cam_0_lidar_semantic_static_obstacles_topic = "
       "/livox/virtual_camera0_semantic_static_obstacles",
       "vir_cam_0_lidar_static_obstacles_topic = /livox/virtual_camera0_static_obstacles",
       "vir_cam_0_lidar_semantic_dynamic_obstacles_topic = "
       "/livox/virtual_camera0_semantic_dynamic_obstacles",
       "vir_cam_0_lidar_dynamic_obstacles_topic = /livox/virtual_camera0_dynamic_obstacles",
       "vir_cam_0_lidar_base_pointcloud_topic = /livox/virtual_camera0_base_pointcloud",
       "vir_cam_0_lidar_elevated_cloud_topic = /livox/virtual_camera0_elevated_cloud",
       "vir_cam_0_lidar_ground_cloud_topic = /livox/virtual_camera0_ground_cloud",
       "vir_cam_0_virtual_camera_info_topic = virtual_camera_01_00_camera_info",
       "vir_cam_0_virtual_camera_frustum_topic = virtual_camera_01_00_frustum",
       "vir_cam_0_virtual_camera_pointcloud_topic = virtual_camera_01_00_pointcloud",
       "vir_cam_0_enable_ground_remove = true",
       "vir_cam_0_enable_cone_remove = true",
       "vir_cam_0_cone_theta_threshold = 60",
       "start to get remove ground parameters",
       "lidar_1_remove_ground_params_.segmentation_angular_resolution = 0.2000",
       "lidar_1_remove_ground_params_.point_cloud_max_range = 2.0000",
       "lidar_1_remove_ground_params_.point_cloud_min_range = 0.4500",
       "lidar_1_remove_ground_params_.segmentation_bin_len = 0.0500",
       "lidar_1_remove_ground_params_.cam_height = 0.0500",
       "lidar_1_remove_ground_params_.max_lsq_residual = 0.1500",
       "lidar_1_remove_ground_params_.min_slope  = 0.0000",
       "lidar_1_remove_ground_params_.max_slope  = 0.2000",
       "lidar_1_remove_ground_params_.max_height_diff_for_start_up  = 0.0500",
       "lidar_1_remove_ground_params_.max_height_diff_for_start_down  = 0.1300",
       "lidar_1_remove_ground_params_.max_dist_point_groundline  = 0.0450",
       "lidar_1_remove_ground_params_.long_threshold  = 0.2000",
       "lidar_1_remove_ground_params_.max_height_diff_for_front  = 0.0400",
       "lidar_1_remove_ground_params_.x_distance_need_preprocess  = 1.0000",
       "lidar_1_remove_ground_params_.z_distance_need_remove  = 0.0500",
       "lidar_1_remove_ground_params_.max_obstacle_height  = 0.6660",
       "lidar_1_remove_ground_params_.diluting_threshold  = 0.0300",
       "start to get point cloud cluster parameters",
       "lidar_1_grid_step = 0.1500",
       "lidar_1_grid_kernelSize = 3",
       "lidar_1_grid_th = 3",
       "begin to build virtual camera group",
       "Tvirtual_cams2lidar_.size(): 1 ",
       "Tvirtual_cams2base_.size(): 1",
       "virtual_cameras_param_.size(): 1",
       "virtual_cameras_frustum_cloud_.size(): 1",
       "dynamic_cloud_detector_sensor_infos_.size(): 1"});
  EXPECT_TRUE(log.containsPrefix("h_fov_radian: 1.5707963"));
  EXPECT_TRUE(log.containsPrefix("virtual_camera_param.fx: 639.99"));
  EXPECT_TRUE(log.containsPrefix("dynamic_cloud_detector_yaml = /"));

  // Angles arrive in degrees and are stored in radians, widened to double for the conversion.
  const auto& camera = *peer.configs().at(0);
  EXPECT_EQ(camera.horizontal_end_pos, 1.5707964f);
  EXPECT_EQ(camera.cone_theta_threshold, 60.0f);
  EXPECT_EQ(peer.groundParams().noise_nsigma, 4.0f);
  EXPECT_EQ(peer.clusterPara().cluster_grid_step, 0.15f);
  EXPECT_EQ(peer.clusterPara().cluster_grid_th, 3);
}

TEST(LidarDetectNodeConfiguration, TheMotionDetectorsTakeTheRegionAndViewOfTheNode) {
  {
    // A wider region, a lower height cut and a narrower up-cone on camera 1 than the detector's
    // file would give; camera 0 keeps its cone cut at the default 60 degrees.
    NodeHarness harness({"-p", "debug:=false", "-p", "virtual_cameras_num:=2", "-p", "x_large:=8.5",
                         "-p", "y_large:=6.25", "-p", "lidar_1.max_obstacle_height:=0.5", "-p",
                         "vir_cam_1.cone_theta_threshold:=45.0"});
    ASSERT_TRUE(harness.node().configured());
    const auto peer = harness.peer();
    ASSERT_EQ(peer.count("detectors"), 2u);
    for (size_t n = 0; n < 2; ++n) {
      const auto& config = peer.dynamicDetectorConfig(n);
      EXPECT_FLOAT_EQ(config.roi_x_max, 8.5f) << "camera " << n;
      EXPECT_FLOAT_EQ(config.roi_y_max, 6.25f) << "camera " << n;
      EXPECT_FLOAT_EQ(config.roi_z_max, 0.5f) << "camera " << n;
      EXPECT_FLOAT_EQ(config.roi_margin, 0.2f) << "the file's other settings stay";
      EXPECT_FLOAT_EQ(config.sensor_min_elevation_deg, -7.0f);
    }
    EXPECT_FLOAT_EQ(peer.dynamicDetectorConfig(0).sensor_max_elevation_deg, 90.0f - 60.0f);
    EXPECT_FLOAT_EQ(peer.dynamicDetectorConfig(1).sensor_max_elevation_deg, 90.0f - 45.0f);
  }
  {
    // No region filter: the detector must not take anything as outside the region; no cone cut:
    // the upper view edge is the sensor's own from the file.
    NodeHarness harness({"-p", "debug:=false", "-p", "enable_roi_filter:=false", "-p",
                         "vir_cam_0.enable_cone_remove:=false"});
    ASSERT_TRUE(harness.node().configured());
    const auto& config = harness.peer().dynamicDetectorConfig(0);
    EXPECT_GT(config.roi_x_max, 1e6f);
    EXPECT_GT(config.roi_y_max, 1e6f);
    EXPECT_GT(config.roi_z_max, 1e6f);
    EXPECT_FLOAT_EQ(config.sensor_max_elevation_deg, 30.0f);
  }
  {
    // A cone cut that leaves no view above the sensor's lower edge fails configuration.
    LogCapture log;
    NodeHarness harness({"-p", "debug:=false", "-p", "vir_cam_0.cone_theta_threshold:=100.0"});
    EXPECT_FALSE(harness.node().configured());
  }
}

TEST(LidarDetectNodeConfiguration, GroundKeysAreComposedFromTheLidarId) {
  LogCapture log;
  NodeHarness harness({"-p", "lidar_id:=3", "-p", "lidar_1.cam_height:=0.9", "-p",
                       "lidar_3.max_slope:=0.3", "-p", "vir_cam_0.horizontal_end_pos:=60.0", "-p",
                       "cluster_grid_th:=7"});
  auto peer = harness.peer();
  EXPECT_EQ(peer.lidarId(), 3);
  EXPECT_EQ(peer.groundParams().cam_height, 0.05f);  // lidar_1 key ignored
  EXPECT_EQ(peer.groundParams().max_slope, 0.3f);
  EXPECT_EQ(peer.clusterPara().cluster_grid_th, 7);
  EXPECT_EQ(log.countOf("lidar_3_remove_ground_params_.max_slope  = 0.3000"), 1u);
  EXPECT_EQ(log.countOf("lidar_3_grid_th = 7"), 1u);
  EXPECT_FLOAT_EQ(peer.configs().at(0)->horizontal_end_pos, static_cast<float>(M_PI / 3));
}

TEST(LidarDetectNodeConfiguration, WrongParameterTypeFailsConfiguration) {
  LogCapture log;
  NodeHarness harness({"-p", "x_large:=5"});  // an integer for a float key
  EXPECT_FALSE(harness.node().configured());
  EXPECT_EQ(harness.node().get_current_state().id(),
            lifecycle_msgs::msg::State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(log.countOf("y_large = 5"), 0u);  // configuration stopped at x_large
  EXPECT_EQ(harness.peer().count("cloud_sub"), 0u);
}

TEST(LidarDetectNodeConfiguration, AConfigurationThatFailedPartWayProcessesNoFrames) {
  // The share directory cannot be found: configuration fails after the subscription exists.
  const std::string ament_prefix_path = std::getenv("AMENT_PREFIX_PATH");
  setenv("AMENT_PREFIX_PATH", "/nonexistent", 1);
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false"});
  setenv("AMENT_PREFIX_PATH", ament_prefix_path.c_str(), 1);
  EXPECT_FALSE(harness.node().configured());
  EXPECT_EQ(harness.peer().count("cloud_sub"), 1u);

  auto publisher = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (!log.containsPrefix("dropping lidar frame") &&
         std::chrono::steady_clock::now() < deadline) {
    publisher->publish(wallScan());
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(
      log.containsPrefix("dropping lidar frame: the node's configuration did not complete"));
  EXPECT_FALSE(log.containsPrefix("pub camera info time"));
}

TEST(LidarDetectNodeConfiguration, ASecondConfigureIsRefused) {
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false"});
  harness.node().deactivate();
  harness.node().cleanup();
  const auto& state = harness.node().configure();
  EXPECT_EQ(state.id(), lifecycle_msgs::msg::State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_TRUE(log.containsPrefix("configure refused"));
  EXPECT_EQ(log.countOf("start to initialize 3d_lidar_detect node"), 1u);
  EXPECT_EQ(harness.peer().count("camera_info"), 1u);  // nothing appended twice
}

TEST(LidarDetectNodeConfiguration, PublishersAndSubscriptionFollowTheSwitches) {
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, size_t> expected;
  };
  const std::vector<Case> cases{
      {{},
       {{"semantic_static", 1},
        {"semantic_dynamic", 1},
        {"static", 1},
        {"dynamic", 1},
        {"semantic_obstacles", 0},
        {"obstacles", 0},
        {"base", 1},
        {"frustum", 1},
        {"camera_info", 1},
        {"cloud_sub", 1},
        {"custom_sub", 0},
        {"detectors", 1}}},
      {{"-p", "debug:=false", "-p", "topic_type:=2"},
       {{"base", 0},
        {"elevated", 0},
        {"ground", 0},
        {"frustum", 0},
        {"split", 0},
        {"semantic_static", 1},
        {"camera_info", 1},
        {"cloud_sub", 0},
        {"custom_sub", 1}}},
      {{"-p", "enable_dynamic_static_split:=false", "-p", "topic_type:=-1"},
       {{"semantic_obstacles", 1},
        {"obstacles", 1},
        {"semantic_static", 0},
        {"dynamic", 0},
        {"custom_sub", 1}}},
      {{"-p", "virtual_cameras_num:=0"},
       {{"camera_info", 0},
        {"semantic_static", 0},
        {"base", 0},
        {"detectors", 0},
        {"sensor_infos", 0},
        {"configs", 0}}},
      {{"-p", "virtual_cameras_num:=2"},
       {{"camera_info", 2},
        {"semantic_dynamic", 2},
        {"split", 2},
        {"detectors", 2},
        {"sensor_infos", 2},
        {"configs", 2}}},
  };
  for (const Case& c : cases) {
    NodeHarness harness(c.args);
    auto peer = harness.peer();
    for (const auto& [list, size] : c.expected) {
      EXPECT_EQ(peer.count(list), size) << list << " with " << ::testing::PrintToString(c.args);
    }
  }
}

TEST(LidarDetectNodeIntake, CustomMsgIsStampedWithItsLastPointAcrossASecondBoundary) {
  LogCapture log;
  NodeHarness harness({"-p", "topic_type:=1", "-p", "debug:=false"});
  Recorder<CameraInfo> infos(harness.helper(), "virtual_camera_01_00_camera_info", rclcpp::QoS(10));
  auto publisher = harness.helper().create_publisher<livox_ros_driver2::msg::CustomMsg>(
      "/cloud_registered_body", 1);
  livox_ros_driver2::msg::CustomMsg scan;
  scan.header.stamp.sec = 10;
  scan.header.stamp.nanosec = 999999000;
  for (uint32_t i = 0; i < 3; ++i) {
    livox_ros_driver2::msg::CustomPoint point;
    point.x = 2.0f;
    point.y = 1.0f + 0.1f * static_cast<float>(i);
    point.offset_time = 1000 * i;  // the last point is 2000 ns after the header stamp
    scan.points.push_back(point);
  }
  publisher->publish(scan);
  ASSERT_TRUE(infos.waitFor(1));
  EXPECT_EQ(infos.messages()[0].header.stamp.sec, 11);
  EXPECT_EQ(infos.messages()[0].header.stamp.nanosec, 1000u);
  EXPECT_EQ(log.countOf("in_time_stamp: 10 sec, 999999000 nanosec; last_point_stamp: 11 sec, "
                        "1000 nanosec; point_back_offset: 2000"),
            1u);
  EXPECT_EQ(log.countOf("Begin to process lidar msg!"), 1u);

  // An empty scan logs its conversion time and nothing else.
  log.clear();
  publisher->publish(livox_ros_driver2::msg::CustomMsg());
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (!log.containsPrefix("convert pcl pointcloud time") &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(log.containsPrefix("convert pcl pointcloud time: "));
  EXPECT_FALSE(log.containsPrefix("in_time_stamp"));
  EXPECT_EQ(log.countOf("Begin to process lidar msg!"), 0u);
}

TEST(LidarDetectNodeIntake, MalformedPointCloudsAreDroppedWithAReason) {
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false"});
  Recorder<CameraInfo> infos(harness.helper(), "virtual_camera_01_00_camera_info", rclcpp::QoS(10));
  auto publisher = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 10);

  PointCloud2 short_data = wallScan();
  short_data.data.resize(short_data.data.size() - 16);
  PointCloud2 short_rows = wallScan();
  short_rows.row_step = short_rows.width * short_rows.point_step - 1;
  PointCloud2 field_outside = wallScan();
  field_outside.fields[2].offset = 14;  // z would straddle the 16-byte point
  for (const auto& bad : {short_data, short_rows, field_outside}) {
    publisher->publish(bad);
    std::this_thread::sleep_for(100ms);
  }
  publisher->publish(wallScan());  // a good one after the bad ones
  ASSERT_TRUE(infos.waitFor(1));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(infos.messages().size(), 1u);
  EXPECT_TRUE(
      log.containsPrefix("dropping PointCloud2 on /cloud_registered_body (frame "
                         "'3d_lidar_link', stamp 100.000000005): data holds"));
  EXPECT_TRUE(
      log.containsPrefix("dropping PointCloud2 on /cloud_registered_body (frame "
                         "'3d_lidar_link', stamp 100.000000005): row_step"));
  EXPECT_TRUE(
      log.containsPrefix("dropping PointCloud2 on /cloud_registered_body (frame "
                         "'3d_lidar_link', stamp 100.000000005): field 'z' at offset 14"));
}

TEST(LidarDetectNodeParameters, GroundValuesChangeAtRunTimeAndTheNextFrameNotices) {
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false", "-p", "lidar_1.cam_height:=0.05", "-p",
                       "lidar_1.max_slope:=0.2", "-p", "lidar_2.cam_height:=0.05", "-p",
                       "x_large:=5.0"});
  auto peer = harness.peer();
  auto& node = harness.node();

  auto result = node.set_parameter(rclcpp::Parameter("lidar_1.cam_height", 0.1));
  EXPECT_TRUE(result.successful);
  EXPECT_EQ(peer.groundParams().cam_height, 0.1f);
  EXPECT_TRUE(peer.paramsUpdated());
  EXPECT_EQ(log.countOf("dynamicParametersCallback updates param named lidar_1.cam_height"), 1u);

  // Two handled keys in one request: both change.
  auto results = node.set_parameters_atomically(
      {rclcpp::Parameter("lidar_1.cam_height", 0.07), rclcpp::Parameter("lidar_1.max_slope", 0.3)});
  EXPECT_TRUE(results.successful);
  EXPECT_EQ(peer.groundParams().cam_height, 0.07f);
  EXPECT_EQ(peer.groundParams().max_slope, 0.3f);

  // Another lidar's key and a non-ground key are accepted and change nothing.
  EXPECT_TRUE(node.set_parameter(rclcpp::Parameter("lidar_2.cam_height", 0.2)).successful);
  EXPECT_TRUE(node.set_parameter(rclcpp::Parameter("x_large", 9.0)).successful);
  EXPECT_EQ(peer.groundParams().cam_height, 0.07f);
  EXPECT_EQ(peer.xLarge(), 5.0f);

  Recorder<CameraInfo> infos(harness.helper(), "virtual_camera_01_00_camera_info", rclcpp::QoS(10));
  auto publisher = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 10);
  publisher->publish(wallScan());
  ASSERT_TRUE(infos.waitFor(1));
  publisher->publish(wallScan());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(log.countOf("LidarDetectNode::processOneFrame update params"), 1u);
  EXPECT_FALSE(peer.paramsUpdated());
}

}  // namespace
}  // namespace lidar_perception

namespace lidar_perception {
namespace {

using corvanta_protocol::msg::SemanticPointCloud;

// A scan (lidar frame, lidar 0.3 m above the base) from base-frame points.
PointCloud2 scanOf(const pcl::PointCloud<pcl::PointXYZ>& base_points) {
  pcl::PointCloud<pcl::PointXYZ> lidar_points;
  for (const auto& p : base_points) {
    lidar_points.push_back({p.x, p.y, p.z - 0.3f});
  }
  PointCloud2 msg;
  pcl::toROSMsg(lidar_points, msg);
  msg.header.frame_id = "3d_lidar_link";
  msg.header.stamp.sec = 200;
  return msg;
}

const std::vector<std::string> kStageTimings{"pub camera info time: ",
                                             "convert base cloud time: ",
                                             "lidar pointcloud split time: ",
                                             "calculate base cloud shape time: ",
                                             "remove cone time: ",
                                             "remove ground time: ",
                                             "cluster time: ",
                                             "get tf map time: ",
                                             "dynamic static split time: "};

void waitForLine(const LogCapture& log, const std::string& prefix) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!log.containsPrefix(prefix) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
}

TEST(LidarDetectNodePipeline, AnEmptyRegionOfInterestStillRunsAndPublishesEveryStage) {
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false"});
  Recorder<SemanticPointCloud> dynamic_topic(
      harness.helper(), "/livox/virtual_camera0_semantic_dynamic_obstacles", rclcpp::QoS(10));
  Recorder<SemanticPointCloud> static_topic(
      harness.helper(), "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(10));
  Recorder<PointCloud2> coloured(harness.helper(), "/livox/virtual_camera0_static_obstacles",
                                 rclcpp::SensorDataQoS());
  auto publisher = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);
  pcl::PointCloud<pcl::PointXYZ> far_away;
  for (int i = 0; i < 50; ++i) {
    far_away.push_back({7.0f, 0.1f * static_cast<float>(i), 0.2f});  // beyond x_large
  }
  publisher->publish(scanOf(far_away));
  ASSERT_TRUE(static_topic.waitFor(1));
  ASSERT_TRUE(dynamic_topic.waitFor(1));
  ASSERT_TRUE(coloured.waitFor(1));
  EXPECT_TRUE(static_topic.messages()[0].obstacles.empty());
  EXPECT_TRUE(dynamic_topic.messages()[0].obstacles.empty());
  EXPECT_EQ(static_topic.messages()[0].header.frame_id, "base_footprint");
  EXPECT_EQ(static_topic.messages()[0].camera_id, 0);
  EXPECT_EQ(coloured.messages()[0].width, 0u);
  EXPECT_EQ(coloured.messages()[0].height, 1u);
  for (const auto& timing : kStageTimings) {
    EXPECT_TRUE(log.containsPrefix(timing)) << timing;
  }
  EXPECT_EQ(log.countOf("cam0 obstacleCluster: numCluster = 0, point_num = 0"), 1u);
}

TEST(LidarDetectNodePipeline, ZeroCamerasStillTimeEveryStage) {
  LogCapture log;
  NodeHarness harness({"-p", "virtual_cameras_num:=0"});
  auto publisher = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);
  publisher->publish(wallScan());
  waitForLine(log, "dynamic static split time: ");
  for (const auto& timing : kStageTimings) {
    EXPECT_TRUE(log.containsPrefix(timing)) << timing;
  }
  // With debug on but no camera there is no base-cloud publisher: that step is skipped.
  EXPECT_FALSE(log.containsPrefix("pub base cloud time"));
  EXPECT_TRUE(log.containsPrefix("pub virtual cameras frustum cloud time: "));
}

TEST(LidarDetectNodePipeline, FourCamerasSideBySideEachPublishTheirOwnObstacles) {
  // Camera n looks from 90 n to 90 n + 90 degrees and has n + 1 small objects in its quadrant, so
  // a cloud, a cluster list or a detector handed to the wrong camera shows in the counts. The
  // cameras' stages run on several threads where the machine has the cores.
  std::vector<std::string> arguments{"-p", "debug:=false", "-p", "virtual_cameras_num:=4"};
  for (int n = 0; n < 4; ++n) {
    const std::string key = "vir_cam_" + std::to_string(n) + ".";
    arguments.insert(arguments.end(),
                     {"-p", key + "horizontal_start_pos:=" + std::to_string(90.0 * n), "-p",
                      key + "horizontal_end_pos:=" + std::to_string(90.0 * n + 90.0), "-p",
                      key + "lidar_semantic_static_obstacles_topic:=/livox/virtual_camera" +
                          std::to_string(n) + "_semantic_static_obstacles"});
  }
  NodeHarness harness(arguments);
  ASSERT_TRUE(harness.node().configured());
  std::vector<std::unique_ptr<Recorder<SemanticPointCloud>>> topics;
  for (int n = 0; n < 4; ++n) {
    topics.push_back(std::make_unique<Recorder<SemanticPointCloud>>(
        harness.helper(),
        "/livox/virtual_camera" + std::to_string(n) + "_semantic_static_obstacles",
        rclcpp::QoS(10)));
  }
  pcl::PointCloud<pcl::PointXYZ> objects;
  for (int n = 0; n < 4; ++n) {
    const float middle = static_cast<float>(M_PI) * (0.25f + 0.5f * static_cast<float>(n));
    for (int k = 0; k <= n; ++k) {
      // 0.25 rad apart at 2.2 m: about 0.55 m between neighbours, well inside the quadrant.
      const float azimuth = middle + 0.25f * (static_cast<float>(k) - 0.5f * static_cast<float>(n));
      for (int j = 0; j < 12; ++j) {
        objects.push_back({2.2f * std::cos(azimuth) + 0.03f * static_cast<float>(j % 3),
                           2.2f * std::sin(azimuth) + 0.03f * static_cast<float>(j / 3 % 2),
                           0.2f + 0.05f * static_cast<float>(j / 6)});
      }
    }
  }
  auto publisher = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);
  for (int frame = 0; frame < 3; ++frame) {
    publisher->publish(scanOf(objects));
    for (int n = 0; n < 4; ++n) {
      ASSERT_TRUE(topics[static_cast<size_t>(n)]->waitFor(static_cast<size_t>(frame) + 1))
          << "camera " << n << ", frame " << frame;
    }
  }
  for (int n = 0; n < 4; ++n) {
    for (const SemanticPointCloud& message : topics[static_cast<size_t>(n)]->messages()) {
      ASSERT_EQ(message.obstacles.size(), static_cast<size_t>(n) + 1) << "camera " << n;
      for (const auto& obstacle : message.obstacles) {
        EXPECT_EQ(obstacle.cloud.width, 12u) << "camera " << n;
      }
    }
  }
}

TEST(LidarDetectNodePipeline, ClusterColoursWrapAfterTwentyAndPointsKeepTheirCoordinates) {
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false"});
  Recorder<SemanticPointCloud> static_topic(
      harness.helper(), "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(10));
  Recorder<PointCloud2> coloured(harness.helper(), "/livox/virtual_camera0_static_obstacles",
                                 rclcpp::SensorDataQoS());
  // 21 separate small objects, 0.6 m apart, inside the default camera's 0..90 degree view.
  pcl::PointCloud<pcl::PointXYZ> objects;
  for (int gx = 0; gx < 7; ++gx) {
    for (int gy = 0; gy < 3; ++gy) {
      for (int k = 0; k < 12; ++k) {
        objects.push_back({1.0f + 0.6f * gx + 0.03f * static_cast<float>(k % 3),
                           1.0f + 0.6f * gy + 0.03f * static_cast<float>(k / 3 % 2),
                           0.2f + 0.05f * static_cast<float>(k / 6)});
      }
    }
  }
  auto publisher = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);
  publisher->publish(scanOf(objects));
  ASSERT_TRUE(static_topic.waitFor(1));
  ASSERT_TRUE(coloured.waitFor(1));
  const SemanticPointCloud semantic = static_topic.messages()[0];
  ASSERT_EQ(semantic.obstacles.size(), 21u);  // nothing moved: all static
  const PointCloud2 cloud = coloured.messages()[0];
  ASSERT_EQ(cloud.point_step, 32u);
  ASSERT_EQ(cloud.width, objects.size());

  // Colour of the first point of each cluster, in cluster order (rgb packed at offset 16).
  std::vector<uint32_t> colours;
  size_t offset = 0;
  for (const auto& obstacle : semantic.obstacles) {
    uint32_t rgb = 0;
    std::memcpy(&rgb, cloud.data.data() + offset * cloud.point_step + 16, sizeof(rgb));
    colours.push_back(rgb & 0xffffffu);
    EXPECT_EQ(obstacle.type, 2);
    EXPECT_EQ(obstacle.reserved, 0);
    EXPECT_FALSE(obstacle.flag);
    ASSERT_EQ(obstacle.cloud.fields.size(), 3u);
    EXPECT_EQ(obstacle.cloud.fields[2].name, "z");
    // The coloured copy of this cluster's first point has the same coordinates.
    float semantic_xyz[3];
    float coloured_xyz[3];
    std::memcpy(semantic_xyz, obstacle.cloud.data.data(), sizeof(semantic_xyz));
    std::memcpy(coloured_xyz, cloud.data.data() + offset * cloud.point_step, sizeof(coloured_xyz));
    EXPECT_EQ(std::memcmp(semantic_xyz, coloured_xyz, sizeof(semantic_xyz)), 0);
    offset += obstacle.cloud.width;
  }
  EXPECT_EQ(colours[0], (255u << 16) | (56u << 8) | 56u);    // palette entry 0
  EXPECT_EQ(colours[19], (255u << 16) | (55u << 8) | 199u);  // palette entry 19
  EXPECT_EQ(colours[20], colours[0]);                        // 21st wraps to the first
  EXPECT_NE(colours[1], colours[0]);
}

}  // namespace
}  // namespace lidar_perception
