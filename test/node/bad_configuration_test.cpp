// Broken configurations: wrong parameter types, impossible cameras and regions, non-finite
// numbers, missing or malformed files, transforms nobody publishes and parameter files for other
// nodes. Each must leave a clear error line that names the key or file and what is wrong, and
// end in the outcome the node documents: configuration fails (the node stays unconfigured), or
// at run time the value is refused and the previous one kept. Nothing may crash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <pcl_conversions/pcl_conversions.h>
#include <lifecycle_msgs/msg/state.hpp>

#include "detector_package_prefix.hpp"
#include "node_harness.hpp"

namespace lidar_perception {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using lifecycle_msgs::msg::State;

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += "  " + line + "\n";
  }
  return text;
}

// A scratch directory for parameter files, removed with the fixture.
class BadConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bad_configuration_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override { fs::remove_all(scratch_); }

  // Writes `text` to a file named `name` in the scratch directory and returns its path.
  std::string writeFile(const std::string& name, const std::string& text) {
    const fs::path path = scratch_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  // A parameter file that gives `body` (lines of "key: value") to lidar_detect_node.
  std::string nodeParams(const std::string& name, const std::string& body) {
    return writeFile(name, "lidar_detect_node:\n  ros__parameters:\n" + body);
  }

  fs::path scratch_;
};

// One configuration that must fail: the arguments after --ros-args, and the pieces that one
// error line must contain (the key or file, and what is wrong).
struct FailingCase {
  std::string what;
  std::vector<std::string> args;
  std::vector<std::string> error_parts;
};

void expectConfigurationFails(const FailingCase& c) {
  SCOPED_TRACE(c.what + " with " + ::testing::PrintToString(c.args));
  LogCapture log;
  NodeHarness harness(c.args);
  EXPECT_FALSE(harness.node().configured());
  EXPECT_EQ(harness.node().get_current_state().id(), State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_TRUE(log.hasErrorWith(c.error_parts))
      << "no error line contains all of " << ::testing::PrintToString(c.error_parts)
      << "; error lines:\n"
      << joined(log.errorLines());
}

TEST_F(BadConfigurationTest, WrongParameterTypesFailConfigurationNamingTheKey) {
  const std::vector<FailingCase> cases{
      {"string for a float", {"-p", "x_large:=far"}, {"x_large", "wrong type"}},
      {"integer for a float", {"-p", "y_small:=1"}, {"y_small", "wrong type"}},
      {"float for an int",
       {"-p", "virtual_cameras_num:=2.0"},
       {"virtual_cameras_num", "wrong type"}},
      {"bool for a string", {"-p", "lidar_frame_id:=true"}, {"lidar_frame_id", "wrong type"}},
      {"integer for a bool", {"-p", "debug:=1"}, {"debug", "wrong type"}},
      {"string for an int", {"-p", "topic_type:=livox"}, {"topic_type", "wrong type"}},
      {"string for a ground float",
       {"-p", "lidar_1.cam_height:=low"},
       {"lidar_1.cam_height", "wrong type"}},
      {"float for a cluster int",
       {"-p", "cluster_grid_th:=3.5"},
       {"cluster_grid_th", "wrong type"}},
      {"float for a camera int",
       {"-p", "vir_cam_0.width:=1280.0"},
       {"vir_cam_0.width", "wrong type"}},
      {"integer for a camera string",
       {"-p", "vir_cam_0.frame_id:=7"},
       {"vir_cam_0.frame_id", "wrong type"}},
      {"integer for the post-fusion switch",
       {"-p", "post_fusion.enable:=1"},
       {"post_fusion.enable", "wrong type"}},
      {"string for the post-fusion threshold",
       {"-p", "post_fusion.threshold:=high"},
       {"post_fusion.threshold", "wrong type"}},
  };
  for (const FailingCase& c : cases) {
    expectConfigurationFails(c);
  }
}

TEST_F(BadConfigurationTest, ImpossibleCamerasAndRegionsFailConfigurationNamingTheKey) {
  const std::vector<FailingCase> cases{
      {"negative camera count",
       {"-p", "virtual_cameras_num:=-1"},
       {"virtual_cameras_num = -1", "must be 0 or more"}},
      {"one camera all around",
       {"-p", "vir_cam_0.horizontal_start_pos:=0.0", "-p", "vir_cam_0.horizontal_end_pos:=360.0"},
       {"vir_cam_0.horizontal_start_pos", "vir_cam_0.horizontal_end_pos", "spans 360 degrees",
        "less than 180"}},
      {"one camera beyond a full turn",
       {"-p", "vir_cam_0.horizontal_start_pos:=-180.0", "-p",
        "vir_cam_0.horizontal_end_pos:=270.0"},
       {"vir_cam_0.horizontal_start_pos", "spans 450 degrees"}},
      {"half a turn",
       {"-p", "vir_cam_0.horizontal_start_pos:=-90.0", "-p", "vir_cam_0.horizontal_end_pos:=90.0"},
       {"vir_cam_0.horizontal_end_pos = 90", "spans 180 degrees"}},
      {"empty view",
       {"-p", "vir_cam_0.horizontal_start_pos:=30.0", "-p", "vir_cam_0.horizontal_end_pos:=30.0"},
       {"vir_cam_0.horizontal_start_pos", "vir_cam_0.horizontal_end_pos", "empty"}},
      {"inverted view",
       {"-p", "vir_cam_0.horizontal_start_pos:=90.0", "-p", "vir_cam_0.horizontal_end_pos:=0.0"},
       {"vir_cam_0.horizontal_end_pos = 0", "vir_cam_0.horizontal_start_pos = 90", "inverted"}},
      {"the second of two cameras all around",
       {"-p", "virtual_cameras_num:=2", "-p", "vir_cam_1.horizontal_start_pos:=0.0", "-p",
        "vir_cam_1.horizontal_end_pos:=360.0"},
       {"vir_cam_1.horizontal_start_pos", "spans 360 degrees"}},
      {"zero region length", {"-p", "x_large:=0.0"}, {"x_large = 0", "region of interest"}},
      {"negative region length", {"-p", "x_large:=-2.5"}, {"x_large = -2.5", "must be > 0"}},
      {"zero region width", {"-p", "y_large:=0.0"}, {"y_large = 0", "region of interest"}},
      {"negative region width", {"-p", "y_large:=-1.0"}, {"y_large = -1", "must be > 0"}},
      {"body front behind its back",
       {"-p", "x_small_front:=-0.5"},
       {"x_small_front = -0.5", "x_small_back = -0.315", "inverted"}},
  };
  for (const FailingCase& c : cases) {
    expectConfigurationFails(c);
  }
}

// ROS reads .nan and .inf in a parameter file as doubles; where a build's parameter layer keeps
// them as strings the key fails as a wrong type instead. Either way the key is named and
// configuration fails.
TEST_F(BadConfigurationTest, NonFiniteNumbersInAParameterFileFailConfiguration) {
  struct Case {
    std::string key;
    std::string value;
  };
  const std::vector<Case> cases{{"x_large", ".nan"},
                                {"y_large", ".inf"},
                                {"get_tf_duration", "-.inf"},
                                {"lidar_1.max_slope", ".NaN"},
                                {"vir_cam_0.horizontal_end_pos", ".inf"},
                                {"cluster_grid_step", ".nan"}};
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.key + ": " + c.value);
    const std::string file = nodeParams("non_finite_" + std::to_string(i) + ".yaml",
                                        "    " + c.key + ": " + c.value + "\n    debug: false\n");
    LogCapture log;
    NodeHarness harness({"--params-file", file});
    EXPECT_FALSE(harness.node().configured());
    EXPECT_EQ(harness.node().get_current_state().id(), State::PRIMARY_STATE_UNCONFIGURED);
    const bool named = log.hasErrorWith({"parameter " + c.key, "is not a finite number"}) ||
                       log.hasErrorWith({"parameter " + c.key, "wrong type"});
    EXPECT_TRUE(named) << "error lines:\n" << joined(log.errorLines());
  }
}

// Lines that say something is wrong, other than a transform the TF listener had not received
// yet at the first lookup (the wait retries it).
std::vector<std::string> complaints(const LogCapture& log) {
  std::vector<std::string> lines;
  for (const auto& line : log.errorLines()) {
    if (line.rfind("Transform ", 0) != 0 && line.rfind("waiting for the transform", 0) != 0) {
      lines.push_back(line);
    }
  }
  return lines;
}

TEST_F(BadConfigurationTest, AParameterFileForAnotherNodeOnlyLeavesTheDefaults) {
  const std::string file = writeFile("other_node.yaml",
                                     "some_other_node:\n"
                                     "  ros__parameters:\n"
                                     "    x_large: -3.0\n"
                                     "    virtual_cameras_num: -4\n"
                                     "    debug: false\n");
  LogCapture log;
  NodeHarness harness({"--params-file", file});
  // Nothing applies: the node runs on its defaults, and there is nothing to complain about.
  EXPECT_TRUE(harness.node().configured());
  EXPECT_EQ(harness.node().get_current_state().id(), State::PRIMARY_STATE_ACTIVE);
  EXPECT_FALSE(harness.node().has_parameter("x_large"));
  EXPECT_EQ(harness.peer().xLarge(), 5.0f);
  EXPECT_TRUE(harness.peer().debug());
  EXPECT_EQ(harness.peer().count("configs"), 1u);
  EXPECT_EQ(log.countOf("x_large = 5"), 1u);
  EXPECT_TRUE(complaints(log).empty()) << joined(complaints(log));
}

TEST_F(BadConfigurationTest, ZeroCamerasConfigureAndSaySoOnce) {
  LogCapture log;
  NodeHarness harness({"-p", "virtual_cameras_num:=0", "-p", "debug:=false"});
  EXPECT_TRUE(harness.node().configured());
  EXPECT_EQ(harness.peer().count("configs"), 0u);
  EXPECT_EQ(
      log.countOf("virtual_cameras_num = 0: no virtual camera, so no obstacle topic is published"),
      1u);
  EXPECT_TRUE(complaints(log).empty()) << joined(complaints(log));
}

TEST_F(BadConfigurationTest, MissingOrMalformedParameterFilesStopTheProgramAtStart) {
  // rclcpp::init itself refuses these, before any node exists; the message names the file.
  const std::string missing = (scratch_ / "does_not_exist.yaml").string();
  const std::string malformed =
      writeFile("malformed.yaml", "lidar_detect_node:\n  ros__parameters: [x_large: 1\n");
  for (const std::string& file : {missing, malformed}) {
    SCOPED_TRACE(file);
    std::string message;
    try {
      NodeHarness harness({"--params-file", file});
      ADD_FAILURE() << "the program started with an unusable parameter file";
    } catch (const std::exception& error) {
      message = error.what();
    }
    EXPECT_NE(message.find(file), std::string::npos) << message;
    EXPECT_FALSE(rclcpp::ok());
  }
  // The next start with a good file works.
  const std::string good = nodeParams("good.yaml", "    debug: false\n");
  NodeHarness harness({"--params-file", good});
  EXPECT_TRUE(harness.node().configured());
}

// The package's configuration files in a throw-away prefix, edited by each case.
class ConfigFileTest : public BadConfigurationTest {
 protected:
  fs::path configDir(const DetectorPackagePrefix& prefix) const {
    return prefix.root() / "share/corvanta_3d_lidar_detect/config/default_params";
  }
};

TEST_F(ConfigFileTest, MotionDetectorSettingsThatCannotBeReadFailConfigurationNamingTheFile) {
  struct Case {
    std::string what;
    // Empty: the file is removed.
    std::string text;
    std::vector<std::string> error_parts;
  };
  const std::vector<Case> cases{
      {"missing", "", {"cannot open the dynamic cloud detector settings"}},
      {"malformed", "dynamic_cloud_detector: {history_frames: [10\n", {"malformed YAML"}},
      {"no settings map", "history_frames: 10\n", {"missing the map 'dynamic_cloud_detector'"}},
      {"a word for a count",
       "dynamic_cloud_detector:\n  history_frames: many\n",
       {"dynamic_cloud_detector.history_frames must be a integer", "many"}},
      {"non-finite margin",
       "dynamic_cloud_detector:\n  depth_margin: .nan\n",
       {"dynamic_cloud_detector.depth_margin must be finite"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DetectorPackagePrefix prefix(CONFIG_DIR, "");
    const fs::path file = configDir(prefix) / "dynamic_cloud_detector.yaml";
    if (c.text.empty()) {
      fs::remove(file);
    } else {
      std::ofstream(file) << c.text;
    }
    std::vector<std::string> parts = c.error_parts;
    parts.push_back(file.string());
    expectConfigurationFails({c.what, {"-p", "debug:=false"}, parts});
  }
}

TEST_F(ConfigFileTest, AMissingShareDirectoryFailsConfigurationNamingThePackage) {
  const char* previous = std::getenv("AMENT_PREFIX_PATH");
  const std::string saved = previous != nullptr ? previous : "";
  setenv("AMENT_PREFIX_PATH", (scratch_ / "empty_prefix").c_str(), 1);
  expectConfigurationFails({"no share directory",
                            {"-p", "debug:=false"},
                            {"configuration failed", "corvanta_3d_lidar_detect"}});
  setenv("AMENT_PREFIX_PATH", saved.c_str(), 1);
}

TEST_F(ConfigFileTest, DetectorSettingsThatCannotBeReadFailConfigurationNamingTheFile) {
  struct Case {
    std::string what;
    std::string text;  // empty: the file is removed
    std::vector<std::string> error_parts;
  };
  const std::vector<Case> cases{
      {"missing", "", {"post_fusion.enable", "cannot be read", "bad file"}},
      {"malformed", "preprocess: {max_points: [1\n", {"post_fusion.enable", "cannot be read"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DetectorPackagePrefix prefix(CONFIG_DIR, "");
    if (c.text.empty()) {
      fs::remove(prefix.trelvonPath());
    } else {
      std::ofstream(prefix.trelvonPath()) << c.text;
    }
    std::vector<std::string> parts = c.error_parts;
    parts.push_back(prefix.trelvonPath());
    LogCapture log;
    NodeHarness harness({"-p", "debug:=false", "-p", "post_fusion.enable:=true"});
    EXPECT_FALSE(harness.node().configured());
    EXPECT_EQ(harness.node().get_current_state().id(), State::PRIMARY_STATE_UNCONFIGURED);
    EXPECT_FALSE(harness.peer().detectorThreadStarted());
    EXPECT_TRUE(log.hasErrorWith(parts)) << "error lines:\n" << joined(log.errorLines());
  }
}

#ifdef DETECTOR_MODEL
// The shipped network writes a 64 x 64 map; settings that announce a 32 x 32 one (consistent
// among themselves) disagree with the model's tensors.
TEST_F(ConfigFileTest, AModelWhoseTensorsDisagreeWithItsSettingsFailsConfiguration) {
  DetectorPackagePrefix prefix(CONFIG_DIR, DETECTOR_MODEL, [](YAML::Node& root) {
    const int anchors = 32 * 32 * 6;
    root["postprocess"]["feature_size"] = std::vector<int>{32, 32};
    root["backbone"]["output_shape"]["cls_score"] = std::vector<int>{anchors, 3};
    root["backbone"]["output_shape"]["bbox_pred"] = std::vector<int>{anchors, 7};
    root["backbone"]["output_shape"]["dir_cls_pred"] = std::vector<int>{anchors, 2};
    root["backbone"]["output_len"]["cls_score"] = anchors * 3 * 4;
    root["backbone"]["output_len"]["bbox_pred"] = anchors * 7 * 4;
    root["backbone"]["output_len"]["dir_cls_pred"] = anchors * 2 * 4;
  });
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false", "-p", "post_fusion.enable:=true"});
  EXPECT_FALSE(harness.node().configured());
  EXPECT_EQ(harness.node().get_current_state().id(), State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_FALSE(harness.peer().detectorThreadStarted());
  EXPECT_TRUE(log.hasErrorWith({"does not match its configuration", DETECTOR_MODEL}))
      << "error lines:\n"
      << joined(log.errorLines());
  EXPECT_TRUE(log.hasErrorWith({"3-D box detector could not be created", prefix.trelvonPath()}))
      << "error lines:\n"
      << joined(log.errorLines());
}
#endif

// Starts the node on a thread of its own (its constructor configures, which may wait), with the
// usual transform base_footprint -> 3d_lidar_link published.
class BackgroundStart {
 public:
  explicit BackgroundStart(const std::vector<std::string>& ros_args) {
    std::vector<std::string> args{"lidar_obstacle_detector", "--ros-args"};
    args.insert(args.end(), ros_args.begin(), ros_args.end());
    std::vector<const char*> argv;
    for (const auto& arg : args) {
      argv.push_back(arg.c_str());
    }
    rclcpp::init(static_cast<int>(argv.size()), argv.data());
    helper_ = std::make_shared<rclcpp::Node>("test_harness");
    broadcaster_ = std::make_shared<tf2_ros::StaticTransformBroadcaster>(helper_);
    broadcaster_->sendTransform(makeTransform("base_footprint", "3d_lidar_link", 0.0, 0.0, 0.3));
    starter_ =
        std::thread([this] { node_ = std::make_shared<LidarDetectNode>("lidar_detect_node"); });
  }
  // Requests shutdown (what Ctrl-C does) and waits for the constructor to return.
  LidarDetectNode& stop() {
    rclcpp::shutdown(nullptr, "test finished");
    starter_.join();
    return *node_;
  }
  ~BackgroundStart() {
    if (starter_.joinable()) {
      stop();
    }
    node_.reset();
    broadcaster_.reset();
    helper_.reset();
  }

 private:
  std::shared_ptr<rclcpp::Node> helper_;
  std::shared_ptr<tf2_ros::StaticTransformBroadcaster> broadcaster_;
  std::shared_ptr<LidarDetectNode> node_;
  std::thread starter_;
};

size_t countPrefix(const LogCapture& log, const std::string& prefix) {
  size_t count = 0;
  for (const auto& line : log.errorLines()) {
    count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  }
  return count;
}

// Waiting for the lidar's transform is by design endless (it may be published late); the node
// must keep saying what it waits for, and Ctrl-C must end the wait.
TEST_F(BadConfigurationTest, AnUnknownFrameKeepsTheNodeWaitingAndSayingForWhat) {
  struct Case {
    std::vector<std::string> args;
    std::string waiting_line;
  };
  const std::vector<Case> cases{
      {{"-p", "debug:=false", "-p", "lidar_frame_id:=nobody_link"},
       "waiting for the transform base_footprint -> nobody_link (base_frame_id -> "
       "lidar_frame_id)"},
      {{"-p", "debug:=false", "-p", "base_frame_id:=nowhere"},
       "waiting for the transform nowhere -> 3d_lidar_link (base_frame_id -> lidar_frame_id)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.waiting_line);
    LogCapture log;
    BackgroundStart start(c.args);
    // Two attempts a second apart show that it keeps trying and keeps saying so.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (countPrefix(log, c.waiting_line) < 2 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    EXPECT_GE(countPrefix(log, c.waiting_line), 2u) << "error lines:\n" << joined(log.errorLines());
    EXPECT_TRUE(log.hasErrorWith({c.waiting_line, "Ctrl-C stops"}));
    LidarDetectNode& node = start.stop();
    EXPECT_FALSE(node.configured());
    EXPECT_EQ(node.get_current_state().id(), State::PRIMARY_STATE_UNCONFIGURED);
    EXPECT_TRUE(log.containsPrefix(
        "configuration stopped: shutdown requested while waiting for the transform"));
  }
}

sensor_msgs::msg::PointCloud2 wallScan() {
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (int i = 0; i < 20; ++i) {
    for (int k = 0; k < 10; ++k) {
      cloud.push_back({2.0f, 1.0f + 0.05f * static_cast<float>(i), -0.2f + 0.05f * k});
    }
  }
  sensor_msgs::msg::PointCloud2 msg;
  pcl::toROSMsg(cloud, msg);
  msg.header.frame_id = "3d_lidar_link";
  msg.header.stamp.sec = 100;
  return msg;
}

// The map frame is looked up per frame, not at configuration: an unknown one configures, and
// every frame says the pose is missing and still goes out (nothing counts as moving).
TEST_F(BadConfigurationTest, AnUnknownMapFrameIsReportedPerFrame) {
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false", "-p", "map_frame_id:=no_map"});
  ASSERT_TRUE(harness.node().configured());
  Recorder<corvanta_protocol::msg::SemanticPointCloud> static_topic(
      harness.helper(), "/livox/virtual_camera0_semantic_static_obstacles", rclcpp::QoS(10));
  auto publisher =
      harness.helper().create_publisher<sensor_msgs::msg::PointCloud2>("/cloud_registered_body", 1);
  publisher->publish(wallScan());
  ASSERT_TRUE(static_topic.waitFor(1));
  EXPECT_TRUE(log.hasErrorWith({"getTransformMatrix: base_footprint -> no_map is failed!"}))
      << "error lines:\n"
      << joined(log.errorLines());
  EXPECT_FALSE(static_topic.messages()[0].obstacles.empty());
}

// At run time the ground values follow the parameter callback's pattern: a bad value is refused
// with its reason, and the previous value stays.
TEST_F(BadConfigurationTest, BadGroundValuesAtRunTimeAreRefusedAndThePreviousOnesKept) {
  LogCapture log;
  NodeHarness harness(
      {"-p", "debug:=false", "-p", "lidar_1.cam_height:=0.05", "-p", "lidar_1.max_slope:=0.2"});
  ASSERT_TRUE(harness.node().configured());
  auto peer = harness.peer();
  struct Case {
    rclcpp::Parameter parameter;
    std::string reason;
  };
  const std::vector<Case> cases{
      {rclcpp::Parameter("lidar_1.cam_height", std::numeric_limits<double>::quiet_NaN()),
       "parameter lidar_1.cam_height must be a finite number, got nan"},
      {rclcpp::Parameter("lidar_1.cam_height", std::numeric_limits<double>::infinity()),
       "parameter lidar_1.cam_height must be a finite number, got inf"},
      {rclcpp::Parameter("lidar_1.max_slope", -std::numeric_limits<double>::infinity()),
       "parameter lidar_1.max_slope must be a finite number, got -inf"},
      {rclcpp::Parameter("lidar_1.cam_height", std::string("high")),
       "parameter lidar_1.cam_height must be a double, got string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    const auto result = harness.node().set_parameter(c.parameter);
    EXPECT_FALSE(result.successful);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(log.countOf("dynamicParametersCallback rejects the request: " + c.reason), 1u);
    EXPECT_EQ(peer.groundParams().cam_height, 0.05f);
    EXPECT_EQ(peer.groundParams().max_slope, 0.2f);
    EXPECT_FALSE(peer.paramsUpdated());
    EXPECT_EQ(harness.node().get_parameter("lidar_1.cam_height").as_double(), 0.05);
  }
  // A good value after the bad ones still goes through.
  EXPECT_TRUE(
      harness.node().set_parameter(rclcpp::Parameter("lidar_1.cam_height", 0.08)).successful);
  EXPECT_EQ(peer.groundParams().cam_height, 0.08f);
}

}  // namespace
}  // namespace lidar_perception
