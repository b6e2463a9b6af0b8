// Our CDR bytes against an independent implementation: npm's @foxglove/rosmsg2-serialization,
// run by Node.js on the same .msg text. For each sample the oracle's bytes must equal ours, the
// oracle must decode our bytes to the same values, and we must decode the oracle's bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <set>
#include <sstream>
#include <tf2_msgs/msg/tf_message.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include <unistd.h>

#include "cdr_test_support.hpp"
#include "ros2_core/cdr_serialization.hpp"
#include "xyzi_point_cloud.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Sample {
  std::string type;
  std::string json;  // our canonical JSON of the message
  Bytes bytes;       // our serializer's output
};

template <typename T>
Sample sample_of(const std::string& type, const T& message) {
  const auto& members = cdr_test::members_of(type);
  return {type, cdr_test::canonical_json(&message, members),
          ros2_core::serialize(&message, members)};
}

sensor_msgs::msg::PointCloud2 realistic_cloud() {
  sensor_msgs::msg::PointCloud2 cloud = cdr_test::xyziPointCloud(200, "3d_lidar_link");
  cloud.header.stamp.sec = 1733580000;
  cloud.header.stamp.nanosec = 123456789;
  for (std::uint32_t p = 0; p < cloud.width; ++p) {
    const float values[4] = {0.05f * p, -0.02f * p, 0.3f, static_cast<float>(p % 256)};
    std::memcpy(&cloud.data[p * 16], values, sizeof(values));
  }
  cloud.is_dense = true;
  return cloud;
}

std::vector<Sample> all_samples() {
  std::vector<Sample> samples;
  for (const cdr_test::MessageType& type : cdr_test::all_message_types()) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
      cdr_test::MessageBox message(*type.members);
      cdr_test::fill(message.get(), *type.members, seed);
      samples.push_back({type.name, cdr_test::canonical_json(message.get(), *type.members),
                         ros2_core::serialize(message.get(), *type.members)});
    }
  }
  samples.push_back(sample_of("sensor_msgs/msg/PointCloud2", realistic_cloud()));

  sensor_msgs::msg::CameraInfo info;
  info.header.frame_id = "camera_0";
  info.width = 640;
  info.height = 480;
  info.distortion_model = "plumb_bob";
  info.d = {-0.1, 0.01, 0.0, 0.0, 0.0};
  info.k = {500, 0, 320, 0, 500, 240, 0, 0, 1};
  info.r = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  info.p = {500, 0, 320, 0, 0, 500, 240, 0, 0, 0, 1, 0};
  info.binning_x = 2;
  info.roi.width = 100;
  info.roi.do_rectify = true;
  samples.push_back(sample_of("sensor_msgs/msg/CameraInfo", info));

  tf2_msgs::msg::TFMessage tf;
  for (int i = 0; i < 3; ++i) {
    geometry_msgs::msg::TransformStamped t;
    t.header.stamp.sec = 100 + i;
    t.header.frame_id = i == 0 ? "map" : "base_footprint";
    t.child_frame_id = i == 0 ? "base_footprint" : "3d_lidar_link";
    t.transform.translation.x = 1.25 * i;
    t.transform.translation.z = 0.4;
    t.transform.rotation.z = 0.38268343236508978;
    t.transform.rotation.w = 0.92387953251128674;
    tf.transforms.push_back(t);
  }
  samples.push_back(sample_of("tf2_msgs/msg/TFMessage", tf));

  visualization_msgs::msg::MarkerArray markers;
  for (int i = 0; i < 2; ++i) {
    visualization_msgs::msg::Marker marker;
    marker.header.frame_id = "base_footprint";
    marker.ns = "boxes";
    marker.id = i;
    marker.type = visualization_msgs::msg::Marker::LINE_LIST;
    marker.scale.x = 0.05;
    marker.color.r = 1.0f;
    marker.color.a = 0.8f;
    marker.lifetime.nanosec = 100000000;
    for (int k = 0; k < 4; ++k) {
      geometry_msgs::msg::Point p;
      p.x = k;
      p.y = -k * 0.5;
      marker.points.push_back(p);
    }
    marker.text = "box \"" + std::to_string(i) + "\"";
    markers.markers.push_back(marker);
  }
  samples.push_back(sample_of("visualization_msgs/msg/MarkerArray", markers));
  return samples;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CdrOracle, BytesEqualTheOraclesAndDecodeBothWays) {
  ASSERT_TRUE(std::filesystem::exists(NODE_PROGRAM))
      << "Node.js not found (" << NODE_PROGRAM << "); scripts/setup installs it";
  ASSERT_TRUE(std::filesystem::exists(std::string(ORACLE_DIR) + "/node_modules"))
      << "the npm oracle is not installed in " << ORACLE_DIR;
  const std::vector<Sample> samples = all_samples();

  const auto dir =
      std::filesystem::temp_directory_path() / ("cdr_oracle_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream request(dir / "request.tsv");
    for (const Sample& s : samples) {
      request << s.type << '\t' << s.json << '\t' << cdr_test::to_hex(s.bytes) << '\n';
    }
  }
  const std::string command =
      std::string("\"") + NODE_PROGRAM + "\" \"" + ORACLE_DIR + "/cdr_oracle.mjs\" \"" +
      INTERFACE_SHARE_DIR + "\" \"" + (dir / "request.tsv").string() + "\" > \"" +
      (dir / "response.tsv").string() + "\" 2> \"" + (dir / "stderr.txt").string() + "\"";
  const int status = std::system(command.c_str());
  ASSERT_EQ(status, 0) << "the oracle failed: " << read_file(dir / "stderr.txt");

  std::istringstream response(read_file(dir / "response.tsv"));
  std::filesystem::remove_all(dir);
  std::string line;
  std::size_t index = 0;
  std::set<std::string> types_checked;
  while (std::getline(response, line)) {
    ASSERT_LT(index, samples.size()) << "more answers than samples";
    const Sample& s = samples[index++];
    SCOPED_TRACE(s.type + " sample " + std::to_string(index));
    std::istringstream fields(line);
    std::string type, their_hex, their_json;
    std::getline(fields, type, '\t');
    std::getline(fields, their_hex, '\t');
    std::getline(fields, their_json);
    ASSERT_EQ(type, s.type);
    ASSERT_NE(their_hex, "ERROR") << their_json;
    // Their encoding of our values is byte for byte ours.
    EXPECT_EQ(their_hex, cdr_test::to_hex(s.bytes)) << s.json;
    // They read our bytes as the values we wrote.
    EXPECT_EQ(their_json, s.json);
    // We read their bytes as the same values.
    const auto& members = cdr_test::members_of(s.type);
    cdr_test::MessageBox decoded(members);
    ros2_core::deserialize(cdr_test::from_hex(their_hex), decoded.get(), members);
    EXPECT_EQ(cdr_test::canonical_json(decoded.get(), members), s.json);
    types_checked.insert(s.type);
  }
  EXPECT_EQ(index, samples.size()) << "the oracle answered fewer samples than it was given";
  EXPECT_EQ(types_checked.size(), cdr_test::all_message_types().size());
}

}  // namespace
