// The node with post_fusion.enable: configuration of the detector thread, boxes, markers and
// point dumps per frame, the bounded wait for a stalled detector, and a clean stop on SIGINT.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <pcl_conversions/pcl_conversions.h>
#include <spdlog/sinks/sink.h>
#include <lifecycle_msgs/msg/state.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include "detector_package_prefix.hpp"
#include "node_harness.hpp"

namespace lidar_perception {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using corvanta_protocol::msg::SemanticPointCloud;
using sensor_msgs::msg::PointCloud2;
using visualization_msgs::msg::MarkerArray;

// Options shared by every run: one camera looking along +x, waits long enough for a loaded
// machine.
std::vector<std::string> detectorArgs(std::vector<std::string> extra) {
  std::vector<std::string> args{
      "-p", "post_fusion.enable:=true",           "-p", "vir_cam_0.horizontal_start_pos:=-45.0",
      "-p", "vir_cam_0.horizontal_end_pos:=45.0", "-p", "get_tf_duration:=0.5"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// A post 0.2 m square at (2, 0) and a wall along x = 4, from 0.1 m to 0.6 m above the floor,
// in the lidar frame 0.3 m above the base.
PointCloud2 objectScan(int32_t sec) {
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (int h = 0; h < 11; ++h) {
    const float z = 0.1f + 0.05f * static_cast<float>(h) - 0.3f;
    for (int i = 0; i < 5; ++i) {
      const float d = -0.1f + 0.05f * static_cast<float>(i);
      cloud.push_back({1.9f, d, z});
      cloud.push_back({2.1f, d, z});
      cloud.push_back({2.0f + d, -0.1f, z});
      cloud.push_back({2.0f + d, 0.1f, z});
    }
    for (int i = 0; i < 40; ++i) {
      cloud.push_back({4.0f, -1.0f + 0.05f * static_cast<float>(i), z});
    }
  }
  PointCloud2 msg;
  pcl::toROSMsg(cloud, msg);
  msg.header.frame_id = "3d_lidar_link";
  msg.header.stamp.sec = sec;
  return msg;
}

std::vector<std::array<float, 3>> cloudPoints(const PointCloud2& cloud) {
  std::vector<std::array<float, 3>> points;
  for (size_t offset = 0; offset + 12 <= cloud.data.size(); offset += cloud.point_step) {
    std::array<float, 3> p{};
    std::memcpy(p.data(), cloud.data.data() + offset, sizeof(p));
    points.push_back(p);
  }
  return points;
}

std::vector<std::array<float, 3>> dumpPoints(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
  std::vector<std::array<float, 3>> points;
  for (size_t offset = 0; offset + 16 <= bytes.size(); offset += 16) {
    std::array<float, 4> record{};
    std::memcpy(record.data(), bytes.data() + offset, sizeof(record));
    EXPECT_EQ(record[3], 0.0f);
    points.push_back({record[0], record[1], record[2]});
  }
  return points;
}

// Share of the obstacle's points inside the footprint A, B, C, D of a box marker (points 0, 2, 4,
// 6 of its bottom ring), by the side of each edge: a convex-polygon test, not the node's.
double shareInside(const PointCloud2& obstacle, const visualization_msgs::msg::Marker& marker) {
  const auto points = cloudPoints(obstacle);
  size_t inside = 0;
  for (const auto& p : points) {
    int positive = 0;
    int negative = 0;
    for (size_t j = 0; j < 4; ++j) {
      const auto& a = marker.points[2 * j];
      const auto& b = marker.points[(2 * j + 2) % 8];
      const double cross = (b.x - a.x) * (p[1] - a.y) - (b.y - a.y) * (p[0] - a.x);
      (cross > 0 ? positive : negative) += 1;
    }
    inside += (positive == 4 || negative == 4) ? 1 : 0;
  }
  return points.empty() ? 0.0 : static_cast<double>(inside) / static_cast<double>(points.size());
}

// Matches "<prefix><number><suffix>" lines and returns the numbers in order.
std::vector<double> numbersIn(const std::vector<std::string>& lines, const std::string& prefix,
                              const std::string& suffix) {
  std::vector<double> numbers;
  for (const auto& line : lines) {
    if (line.rfind(prefix, 0) == 0 && line.size() >= prefix.size() + suffix.size() &&
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
      numbers.push_back(std::stod(line.substr(prefix.size())));
    }
  }
  return numbers;
}

class DetectorThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "detector_thread_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override { fs::remove_all(scratch_); }
  fs::path scratch_;
};

TEST_F(DetectorThreadTest, ADetectorThatCannotBeCreatedFailsConfigurationWithoutAThread) {
  DetectorPackagePrefix prefix(CONFIG_DIR, "", [](YAML::Node& root) { root["use_gpu"] = true; });
  LogCapture log;
  NodeHarness harness(detectorArgs({}));
  EXPECT_FALSE(harness.node().configured());
  EXPECT_EQ(harness.node().get_current_state().id(),
            lifecycle_msgs::msg::State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_FALSE(harness.peer().detectorThreadStarted());
  EXPECT_EQ(log.countOf("Not support gpu preprocess yet"), 1u);
  EXPECT_EQ(log.countOf("startDetectorThread: post_fusion.enable is true but the 3-D box detector "
                        "could not be created from " +
                        prefix.trelvonPath() +
                        " (the lines above say why); no detector thread is started"),
            1u);
}

TEST_F(DetectorThreadTest, AWaitTimeOutThatIsNotPositiveFailsConfiguration) {
  DetectorPackagePrefix prefix(CONFIG_DIR, DETECTOR_MODEL);
  LogCapture log;
  NodeHarness harness(detectorArgs({"-p", "post_fusion.wait_timeout:=0.0"}));
  EXPECT_FALSE(harness.node().configured());
  EXPECT_FALSE(harness.peer().detectorThreadStarted());
  EXPECT_EQ(log.countOf("post_fusion.wait_timeout = 0"), 1u);
  EXPECT_EQ(log.countOf("startDetectorThread: trelvon_config_file = " + prefix.trelvonPath()), 0u);
}

TEST_F(DetectorThreadTest, EveryFrameGetsItsBoxesMarkersAndPointDump) {
  DetectorPackagePrefix prefix(CONFIG_DIR, DETECTOR_MODEL, useTestModelAnchors);
  const fs::path dumps = scratch_ / "created" / "on" / "demand";
  LogCapture log;
  NodeHarness harness(detectorArgs({"-p", "debug:=true", "-p", "post_fusion.wait_timeout:=30.0",
                                    "-p", "post_fusion.dump_directory:=" + dumps.string()}));
  ASSERT_TRUE(harness.node().configured());
  ASSERT_TRUE(harness.peer().detectorThreadStarted());
  Recorder<MarkerArray> markers(harness.helper(), "/livox/boundingboxes", rclcpp::QoS(100));
  Recorder<SemanticPointCloud> dynamic_topic(
      harness.helper(), "/livox/virtual_camera0_semantic_dynamic_obstacles", rclcpp::QoS(100));
  Recorder<SemanticPointCloud> static_topic(
      harness.helper(), "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(100));
  Recorder<PointCloud2> elevated(harness.helper(), "/livox/virtual_camera0_elevated_cloud",
                                 rclcpp::SensorDataQoS().keep_last(100));
  auto scans = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);

  constexpr size_t kFrames = 4;
  for (size_t k = 0; k < kFrames; ++k) {
    scans->publish(objectScan(100 + static_cast<int32_t>(k)));
    ASSERT_TRUE(static_topic.waitFor(k + 1, 30s)) << "frame " << k;
  }
  ASSERT_TRUE(dynamic_topic.waitFor(kFrames, 10s));
  ASSERT_TRUE(markers.waitFor(kFrames, 10s));
  ASSERT_TRUE(elevated.waitFor(kFrames, 10s));

  const auto lines = log.lines();
  EXPECT_EQ(log.countOf("Trelvon Forward before."), kFrames);
  EXPECT_EQ(numbersIn(lines, "waitDetectorOutput: ", " ms.").size(), kFrames);
  EXPECT_EQ(numbersIn(lines, "postfusion time: ", " ms.").size(), kFrames);
  const std::vector<double> box_counts = numbersIn(lines, "detector thread: ", " boxes");
  ASSERT_EQ(box_counts.size(), kFrames);

  const auto marker_arrays = markers.messages();
  const auto dynamic_messages = dynamic_topic.messages();
  const auto static_messages = static_topic.messages();
  const auto elevated_clouds = elevated.messages();
  size_t promoted = 0;
  for (size_t k = 0; k < kFrames; ++k) {
    // Markers: DELETEALL, then one line list per box the detector reported.
    const auto& array = marker_arrays[k].markers;
    ASSERT_EQ(array.size(), static_cast<size_t>(box_counts[k]) + 1) << "frame " << k;
    EXPECT_EQ(array[0].action, 3);
    for (size_t m = 1; m < array.size(); ++m) {
      EXPECT_EQ(array[m].header.frame_id, "base_footprint");
      EXPECT_EQ(array[m].id, static_cast<int32_t>(m - 1));
    }
    // The dump of frame k holds exactly the obstacle points the frame published as elevated.
    const auto dumped = dumpPoints(dumps / (std::to_string(k) + ".bin"));
    EXPECT_EQ(fs::file_size(dumps / (std::to_string(k) + ".bin")), 16 * dumped.size());
    EXPECT_EQ(dumped, cloudPoints(elevated_clouds[k])) << "frame " << k;
    EXPECT_GT(dumped.size(), 100u);

    // No static obstacle is more than the threshold inside a box of its frame.
    for (const auto& obstacle : static_messages[k].obstacles) {
      for (size_t m = 1; m < array.size(); ++m) {
        EXPECT_LE(shareInside(obstacle.cloud, array[m]), 0.7) << "frame " << k << " box " << m;
      }
    }
    for (const auto& obstacle : dynamic_messages[k].obstacles) {
      for (size_t m = 1; m < array.size(); ++m) {
        if (shareInside(obstacle.cloud, array[m]) > 0.7) {
          ++promoted;
          break;
        }
      }
    }
  }
  // The scene never moves, so dynamic obstacles inside a box were promoted by the detector.
  EXPECT_GT(promoted, 0u);
}

// Holds the detector thread inside its "Trelvon Forward before." line until opened; every other
// line, from any thread, passes at once.
class DetectorGate : public spdlog::sinks::sink {
 public:
  void log(const spdlog::details::log_msg& msg) override {
    const std::string text(msg.payload.data(), msg.payload.size());
    if (text.find("Trelvon Forward before.") == std::string::npos) {
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    ++held_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void flush() override {}
  void set_pattern(const std::string&) override {}
  void set_formatter(std::unique_ptr<spdlog::formatter>) override {}

  void open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool waitHeld(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] { return held_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_{false};
  size_t held_{0};
};

TEST_F(DetectorThreadTest, AStalledDetectorDelaysEachFrameOnlyUpToTheTimeOut) {
  DetectorPackagePrefix prefix(CONFIG_DIR, DETECTOR_MODEL);
  LogCapture log;
  auto gate = std::make_shared<DetectorGate>();
  auto& sinks = corvanta::Logger::Instance().logger_->sinks();
  sinks.push_back(gate);
  {
    NodeHarness harness(
        detectorArgs({"-p", "debug:=false", "-p", "post_fusion.wait_timeout:=3.0"}));
    // Whatever happens below, the thread is let go before the node joins it.
    struct OpenOnExit {
      std::shared_ptr<DetectorGate> gate;
      ~OpenOnExit() { gate->open(); }
    } open_on_exit{gate};
    ASSERT_TRUE(harness.node().configured());
    Recorder<SemanticPointCloud> static_topic(
        harness.helper(), "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(100));
    auto scans = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);

    // Frames 1 and 2: the detector hangs in frame 1; both frames go out without boxes.
    scans->publish(objectScan(200));
    ASSERT_TRUE(gate->waitHeld(1));
    ASSERT_TRUE(static_topic.waitFor(1, 30s));
    scans->publish(objectScan(201));
    ASSERT_TRUE(static_topic.waitFor(2, 30s));
    EXPECT_EQ(log.countOf("waitDetectorOutput: no boxes for frame 1 within "
                          "post_fusion.wait_timeout = 3 s; frames are published without "
                          "post-fusion until the detector keeps up again"),
              1u);
    EXPECT_FALSE(log.containsPrefix("waitDetectorOutput: no boxes for frame 2"));

    // The detector comes back: frame 1's late boxes are dropped, frame 2 is skipped, frame 3
    // is fused with its own boxes.
    gate->open();
    scans->publish(objectScan(202));
    ASSERT_TRUE(static_topic.waitFor(3, 30s));
    const auto lines = log.lines();
    EXPECT_EQ(numbersIn(lines, "waitDetectorOutput: ", " ms.").size(), 3u);
    EXPECT_EQ(numbersIn(lines, "postfusion time: ", " ms.").size(), 1u);
    EXPECT_EQ(log.countOf("waitDetectorOutput: the detector keeps up again after 2 frames without "
                          "post-fusion"),
              1u);
    // Forward ran for frames 1 and 3 only.
    EXPECT_EQ(log.countOf("Trelvon Forward before."), 2u);
    const auto stamps = static_topic.messages();
    ASSERT_EQ(stamps.size(), 3u);
    EXPECT_EQ(stamps[2].header.stamp.sec, 202);
  }
  sinks.erase(std::remove(sinks.begin(), sinks.end(), gate), sinks.end());
}

TEST_F(DetectorThreadTest, WithoutTheDynamicStaticSplitBoxesAreDetectedButNothingIsFused) {
  DetectorPackagePrefix prefix(CONFIG_DIR, DETECTOR_MODEL);
  LogCapture log;
  NodeHarness harness(detectorArgs({"-p", "debug:=false", "-p", "post_fusion.wait_timeout:=30.0",
                                    "-p", "enable_dynamic_static_split:=false"}));
  ASSERT_TRUE(harness.node().configured());
  Recorder<SemanticPointCloud> obstacles(
      harness.helper(), "/livox/virtual_camera0_semantic_obstacles", rclcpp::QoS(100));
  auto scans = harness.helper().create_publisher<PointCloud2>("/cloud_registered_body", 1);
  for (size_t k = 0; k < 2; ++k) {
    scans->publish(objectScan(300 + static_cast<int32_t>(k)));
    ASSERT_TRUE(obstacles.waitFor(k + 1, 30s));
  }
  EXPECT_GT(obstacles.messages()[1].obstacles.size(), 0u);
  const auto lines = log.lines();
  EXPECT_EQ(log.countOf("Trelvon Forward before."), 2u);
  EXPECT_EQ(numbersIn(lines, "waitDetectorOutput: ", " ms.").size(), 2u);
  EXPECT_TRUE(numbersIn(lines, "postfusion time: ", " ms.").empty());
  EXPECT_EQ(log.countOf("startDetectorThread: enable_dynamic_static_split is false, so boxes are "
                        "detected but promote no cluster"),
            1u);
}

// Keeps the error lines (their level, not their text, decides).
class ErrorLines : public spdlog::sinks::sink {
 public:
  void log(const spdlog::details::log_msg& msg) override {
    if (msg.level < spdlog::level::err) {
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(msg.payload.data(), msg.payload.size());
  }
  void flush() override {}
  void set_pattern(const std::string&) override {}
  void set_formatter(std::unique_ptr<spdlog::formatter>) override {}
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// The program's sequence (init with signal handlers, configure, activate, spin, shutdown, release)
// with scans flowing when SIGINT arrives.
TEST_F(DetectorThreadTest, SigintWhileFramesFlowStopsEverythingCleanly) {
  DetectorPackagePrefix prefix(CONFIG_DIR, DETECTOR_MODEL);
  LogCapture log;
  auto errors = std::make_shared<ErrorLines>();
  auto& sinks = corvanta::Logger::Instance().logger_->sinks();
  sinks.push_back(errors);
  {
    std::vector<std::string> args{"lidar_obstacle_detector", "--ros-args"};
    for (const auto& arg :
         detectorArgs({"-p", "debug:=true", "-p", "post_fusion.wait_timeout:=30.0", "-p",
                       "post_fusion.dump_directory:=" + (scratch_ / "dumps").string()})) {
      args.push_back(arg);
    }
    std::vector<const char*> argv;
    for (const auto& arg : args) {
      argv.push_back(arg.c_str());
    }
    rclcpp::init(static_cast<int>(argv.size()), argv.data(),
                 rclcpp::InitOptions(rcutils_get_default_allocator()),
                 rclcpp::SignalHandlerOptions::All);
    auto helper = std::make_shared<rclcpp::Node>("test_feeder");
    tf2_ros::StaticTransformBroadcaster broadcaster(helper);
    broadcaster.sendTransform({makeTransform("base_footprint", "3d_lidar_link", 0.0, 0.0, 0.3),
                               makeTransform("map", "base_footprint", 0.0, 0.0, 0.0)});
    auto node = std::make_shared<LidarDetectNode>("lidar_detect_node");
    ASSERT_TRUE(node->configured());
    node->activate();
    Recorder<SemanticPointCloud> static_topic(
        *helper, "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(100));
    auto scans = helper->create_publisher<PointCloud2>("/cloud_registered_body", 1);
    auto executor = std::make_shared<rclcpp::executors::MultiThreadedExecutor>(
        rclcpp::ExecutorOptions(), 3, true, std::chrono::nanoseconds(-1));
    executor->add_node(node->get_node_base_interface(), true);
    executor->add_node(helper);

    std::atomic<bool> frames_seen{false};
    std::thread feeder([&] {
      // Scans every 50 ms; SIGINT once three frames have come out, then scans go on arriving.
      int32_t sec = 400;
      for (int sent = 0; rclcpp::ok() && sent < 400; ++sent) {
        scans->publish(objectScan(sec++));
        if (!frames_seen && static_topic.waitFor(3, 0ms)) {
          frames_seen = true;
          std::raise(SIGINT);
        }
        std::this_thread::sleep_for(50ms);
      }
    });
    executor->spin();
    rclcpp::shutdown(nullptr, "user called rclcpp::shutdown()");
    LOG_INFO("node finishied");
    feeder.join();
    executor.reset();
    node.reset();  // stops and joins the detector thread
    EXPECT_TRUE(frames_seen);
    EXPECT_EQ(rclcpp::contexts::get_global_default_context()->shutdown_reason(), "signal handler");
  }
  sinks.erase(std::remove(sinks.begin(), sinks.end(), errors), sinks.end());
  EXPECT_EQ(log.countOf("node finishied"), 1u);
  for (const std::string& line : errors->lines()) {
    // The detector thread's per-frame line is an error-level line by design.
    EXPECT_NE(line.find("Trelvon Forward before."), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace lidar_perception
