#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pcl/io/pcd_io.h>
#include <pcl/point_types.h>
#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "bag_io/mcap_writer.hpp"
#include "bag_io/msg_schema_builder.hpp"
#include "lidar_sim/frame_messages.hpp"
#include "scan_player/recorded_sources.hpp"
#include "scan_player/scan_conversion.hpp"
#include "scan_player/source_options.hpp"

namespace {

namespace fs = std::filesystem;

class ScratchFolder {
 public:
  ScratchFolder() : path_(fs::temp_directory_path() / fs::path("player_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchFolder() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::string str() const { return path_.string(); }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

template <typename MessageT>
std::vector<std::uint8_t> cdr(const MessageT& message) {
  rclcpp::Serialization<MessageT> serialization;
  rclcpp::SerializedMessage bytes;
  serialization.serialize_message(&message, &bytes);
  const auto& raw = bytes.get_rcl_serialized_message();
  return std::vector<std::uint8_t>(raw.buffer, raw.buffer + raw.buffer_length);
}

sensor_msgs::msg::PointCloud2 scan(std::int64_t stamp_ns, float x) {
  livox_ros_driver2::msg::CustomMsg custom;
  custom.header.frame_id = "velodyne";
  custom.header.stamp = lidar_sim::toTimeMsg(stamp_ns);
  livox_ros_driver2::msg::CustomPoint point;
  point.x = x;
  point.y = 1.0F;
  point.z = 0.5F;
  custom.points = {point, point};
  return scan_player::toPointCloud2(custom);
}

tf2_msgs::msg::TFMessage tfOf(const geometry_msgs::msg::TransformStamped& transform) {
  tf2_msgs::msg::TFMessage message;
  message.transforms.push_back(transform);
  return message;
}

struct BagContents {
  bool with_tf{true};
  bool with_tf_static{true};
  bool second_cloud_topic{false};
  bool damaged_second_scan{false};
};

// Three scans 0.1 s apart on /points, their poses on /tf before each, the mount on /tf_static.
void writeBag(const std::string& path, const BagContents& contents) {
  auto schemas = bag_io::MsgSchemaBuilder({INTERFACE_SHARE_DIR});
  bag_io::McapWriter writer(path);
  const std::string cloud_type = "sensor_msgs/msg/PointCloud2";
  const std::string tf_type = "tf2_msgs/msg/TFMessage";
  const std::int64_t t0 = 5000000000LL;
  if (contents.with_tf_static) {
    scan_player::MountPose mount;
    mount.xyz = {0.1, 0.0, 0.4};
    writer.write("/tf_static", tf_type, schemas.schemaText(tf_type), t0,
                 cdr(tfOf(scan_player::mountTransform(mount, "velodyne"))));
  }
  for (int k = 0; k < 3; ++k) {
    const std::int64_t stamp = t0 + k * 100000000LL;
    if (contents.with_tf) {
      writer.write("/tf", tf_type, schemas.schemaText(tf_type), stamp + 1,
                   cdr(tfOf(scan_player::fixedPoseTransform({0.5 * k, 0.0, 0.0}, stamp))));
    }
    auto bytes = cdr(scan(stamp, static_cast<float>(k)));
    if (contents.damaged_second_scan && k == 1) {
      bytes.resize(bytes.size() / 2);
    }
    writer.write("/points", cloud_type, schemas.schemaText(cloud_type), stamp + 2, bytes);
    if (contents.second_cloud_topic) {
      writer.write("/other", cloud_type, schemas.schemaText(cloud_type), stamp + 3,
                   cdr(scan(stamp, 9.0F)));
    }
  }
  writer.close();
}

std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

TEST(BagSource, PlaysScansWithThePosesRecordedBeforeThem) {
  ScratchFolder folder;
  const std::string bag = folder / "run.mcap";
  writeBag(bag, {});
  scan_player::BagSource source(bag, {});
  EXPECT_EQ(source.scanTopic(), "/points");
  ASSERT_EQ(source.frameCount(), std::optional<std::size_t>(3));
  const auto statics = source.staticTransforms();
  ASSERT_EQ(statics.size(), 1U);
  EXPECT_EQ(statics[0].child_frame_id, "velodyne");
  EXPECT_DOUBLE_EQ(statics[0].transform.translation.z, 0.4);

  scan_player::ScanFrame frame;
  for (int k = 0; k < 3; ++k) {
    ASSERT_TRUE(source.next(frame)) << k;
    EXPECT_EQ(frame.stamp_ns, 5000000000LL + k * 100000000LL);
    ASSERT_TRUE(frame.cloud);
    EXPECT_EQ(frame.cloud->width, 2U);
    ASSERT_EQ(frame.transforms.size(), 1U);
    EXPECT_DOUBLE_EQ(frame.transforms[0].transform.translation.x, 0.5 * k);
    EXPECT_FALSE(frame.truth);
  }
  EXPECT_FALSE(source.next(frame));
}

TEST(BagSource, MissingPieceAreNamedWithTheOptionThatSuppliesThem) {
  ScratchFolder folder;
  const std::string no_tf = folder / "no_tf.mcap";
  writeBag(no_tf, {false, true, false, false});
  EXPECT_NE(errorOf([&] { scan_player::BagSource(no_tf, {}); }).find("--fixed-pose"),
            std::string::npos);
  scan_player::BagSourceOptions fixed;
  fixed.fixed_pose = scan_player::PlanarPose{1.0, 2.0, 0.0};
  scan_player::BagSource standing(no_tf, fixed);
  scan_player::ScanFrame frame;
  std::int64_t last_pose_stamp = -1;
  for (int k = 0; k < 3; ++k) {
    ASSERT_TRUE(standing.next(frame));
    ASSERT_FALSE(frame.transforms.empty());
    for (const auto& pose : frame.transforms) {
      const std::int64_t stamp = static_cast<std::int64_t>(pose.header.stamp.sec) * 1000000000LL +
                                 pose.header.stamp.nanosec;
      EXPECT_GT(stamp, last_pose_stamp) << "a pose stamp repeats or goes back";
      last_pose_stamp = stamp;
      EXPECT_DOUBLE_EQ(pose.transform.translation.y, 2.0);
    }
    // A lookup at the scan's stamp and a little after it finds poses on both sides.
    EXPECT_GT(last_pose_stamp, frame.stamp_ns + 100000000LL);
  }

  const std::string no_mount = folder / "no_mount.mcap";
  writeBag(no_mount, {true, false, false, false});
  EXPECT_NE(errorOf([&] { scan_player::BagSource(no_mount, {}); }).find("--mount"),
            std::string::npos);
  scan_player::BagSourceOptions mounted;
  mounted.mount = scan_player::MountPose{};
  scan_player::BagSource with_mount(no_mount, mounted);
  ASSERT_EQ(with_mount.staticTransforms().size(), 1U);
  EXPECT_EQ(with_mount.staticTransforms()[0].child_frame_id, "velodyne")
      << "the mount names the scans' own frame";
  EXPECT_TRUE(with_mount.next(frame)) << "reading the frame id must not use up the first scan";
  EXPECT_EQ(frame.stamp_ns, 5000000000LL);

  const std::string two = folder / "two.mcap";
  writeBag(two, {true, true, true, false});
  const std::string message = errorOf([&] { scan_player::BagSource(two, {}); });
  EXPECT_NE(message.find("/points"), std::string::npos) << message;
  EXPECT_NE(message.find("/other"), std::string::npos) << message;
  scan_player::BagSourceOptions chosen;
  chosen.scan_topic = "/other";
  scan_player::BagSource other(two, chosen);
  ASSERT_TRUE(other.next(frame));
  float x = 0.0F;
  std::memcpy(&x, frame.cloud->data.data(), sizeof(x));
  EXPECT_FLOAT_EQ(x, 9.0F);
  chosen.scan_topic = "/tf";
  EXPECT_THROW(scan_player::BagSource(two, chosen), std::runtime_error);
}

TEST(BagSource, DamagedScanIsSkippedAndTheNextOneArrives) {
  ScratchFolder folder;
  const std::string bag = folder / "damaged.mcap";
  writeBag(bag, {true, true, false, true});
  scan_player::BagSource source(bag, {});
  scan_player::ScanFrame frame;
  ASSERT_TRUE(source.next(frame));
  EXPECT_EQ(frame.stamp_ns, 5000000000LL);
  ASSERT_TRUE(source.next(frame));
  EXPECT_EQ(frame.stamp_ns, 5200000000LL);
  // The pose recorded before the damaged scan still goes out with the next good one.
  EXPECT_EQ(frame.transforms.size(), 2U);
  EXPECT_EQ(source.skippedMessages(), 1U);
  EXPECT_FALSE(source.next(frame));
}

TEST(PcdSource, PlaysFilesInNameOrderWithRegularStamps) {
  ScratchFolder folder;
  for (const char* name : {"b.pcd", "a.pcd"}) {
    pcl::PointCloud<pcl::PointXYZI> cloud;
    cloud.push_back(pcl::PointXYZI(name[0] == 'a' ? 1.0F : 2.0F));
    cloud.back().x = name[0] == 'a' ? 1.0F : 2.0F;
    pcl::io::savePCDFileBinary(folder / name, cloud);
  }
  scan_player::PcdSource source(folder.str(), 0.25, scan_player::MountPose{},
                                scan_player::PlanarPose{});
  scan_player::ScanFrame first;
  scan_player::ScanFrame second;
  ASSERT_TRUE(source.next(first));
  ASSERT_TRUE(source.next(second));
  EXPECT_EQ(second.stamp_ns - first.stamp_ns, 250000000LL);
  float x = 0.0F;
  std::memcpy(&x, first.cloud->data.data(), sizeof(x));
  EXPECT_FLOAT_EQ(x, 1.0F) << "a.pcd plays first";
  EXPECT_EQ(first.cloud->header.frame_id, "3d_lidar_link");
  scan_player::ScanFrame none;
  EXPECT_FALSE(source.next(none));

  ScratchFolder empty;
  EXPECT_NE(errorOf([&] {
              scan_player::PcdSource(empty.str(), 0.1, {}, {});
            }).find("no .pcd"),
            std::string::npos);
}

TEST(SourceOptions, ParsesAndRefusesBadValuesByName) {
  std::vector<std::string> args{"prog", "--bag", "x.mcap", "--rate", "2", "--fixed-pose",
                                "1,2,90", "--mount", "0,0,0.5,0,0,180", "--frames", "7"};
  const auto options = scan_player::takeSourceOptions(args);
  EXPECT_EQ(options.kind, scan_player::SourceOptions::Kind::kBag);
  EXPECT_EQ(options.frames, 7U);
  ASSERT_TRUE(options.fixed_pose);
  EXPECT_NEAR(options.fixed_pose->yaw, M_PI / 2.0, 1e-12);
  ASSERT_TRUE(options.mount);
  EXPECT_DOUBLE_EQ(options.mount->rpy_deg[2], 180.0);
  EXPECT_EQ(args, (std::vector<std::string>{"prog", "--rate", "2"}));

  auto error = [](std::vector<std::string> bad) {
    return errorOf([&] { scan_player::takeSourceOptions(bad); });
  };
  EXPECT_NE(error({"p", "--fixed-pose", "1,2"}).find("expected 3"), std::string::npos);
  EXPECT_NE(error({"p", "--mount", "0,0,nan,0,0,0"}).find("nan"), std::string::npos);
  EXPECT_NE(error({"p", "--frames", "-3"}).find("--frames"), std::string::npos);
  EXPECT_NE(error({"p", "--bag", "a", "--pcd", "b"}).find("choose one"), std::string::npos);
  EXPECT_NE(error({"p", "--scenario"}).find("needs a value"), std::string::npos);
  EXPECT_NE(errorOf([] { scan_player::resolveScenario("no_such_scene"); }).find("no_such_scene"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(scan_player::resolveScenario("corridor")));
}

}  // namespace
