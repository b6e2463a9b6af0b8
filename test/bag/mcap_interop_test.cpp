// MCAP interchange with an independent implementation: npm's @mcap/core (with @mcap/support for
// decompression and @foxglove/rosmsg2-serialization to decode payloads) reads our files, and our
// reader reads files written by @mcap/core's McapWriter. The npm packages are installed by the
// bag_oracle_npm_install test into ORACLE_DIR.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "bag_io/mcap_reader.hpp"
#include "bag_io/mcap_writer.hpp"
#include "bag_io/msg_schema_builder.hpp"
#include "bag_io/qos_profile.hpp"
#include "bag_test_support.hpp"

namespace {

using bag_io::Compression;
using bag_test::Bytes;

class McapInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(std::string(ORACLE_DIR) + "/node_modules/@mcap/core"))
        << "npm packages missing in " << ORACLE_DIR
        << ": the bag_oracle_npm_install test failed (npm or its registry unreachable?)";
    ASSERT_FALSE(std::string(NODE_PROGRAM).empty() ||
                 std::string(NODE_PROGRAM).find("NOTFOUND") != std::string::npos)
        << "node not found (scripts/setup installs nodejs)";
  }

  // Runs one of the oracle scripts; fails the test with its output unless it succeeds.
  std::string node(const std::string& script, const std::string& arguments) {
    std::string output;
    const int status = bag_test::runCommand(
        fmt::format("cd '{}' && '{}' {} {} 2>&1", ORACLE_DIR, NODE_PROGRAM, script, arguments),
        output);
    EXPECT_EQ(status, 0) << script << " " << arguments << ":\n" << output;
    return output;
  }
};

std::vector<std::vector<std::string>> lines(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos)
        break;
      start = tab + 1;
    }
    out.push_back(fields);
  }
  return out;
}

std::vector<std::vector<std::string>> linesOf(const std::vector<std::vector<std::string>>& all,
                                              const std::string& kind) {
  std::vector<std::vector<std::string>> out;
  for (const auto& fields : all) {
    if (!fields.empty() && fields[0] == kind)
      out.push_back(fields);
  }
  return out;
}

struct Sent {
  std::string topic;
  std::uint64_t time;
  Bytes data;
  std::string json;  // what a ROS 2 decoder must make of `data`
};

TEST_F(McapInterop, OurFilesReadByMcapJs) {
  bag_test::ScratchDir dir;
  for (const Compression compression :
       {Compression::kNone, Compression::kZstd, Compression::kLz4}) {
    const std::string name = bag_io::compressionName(compression);
    SCOPED_TRACE("compression '" + name + "'");
    const std::string path = (dir / "ours.mcap").string();
    std::vector<Sent> sent;
    std::size_t chunks = 0;
    {
      bag_io::McapWriterOptions options;
      options.compression = compression;
      options.chunk_size = 700;
      bag_io::McapWriter writer(path, options);
      for (int i = 0; i < 30; ++i) {
        const std::string text = fmt::format("hello {}", i);
        sent.push_back({"/chatter", 2000u + 10u * i, bag_test::stringCdr(text),
                        fmt::format("{{\"data\":\"{}\"}}", text)});
        writer.write("/chatter", "std_msgs/msg/String", bag_test::kStringSchema, sent.back().time,
                     sent.back().data);
        if (i % 2 == 0) {
          const double x = i * 0.25;
          const double y = -(i + 1.0);
          sent.push_back(
              {"/point", 2005u + 10u * i,
               bag_test::pointStampedCdr(i, 3 * i, "base_link", x, y, 0.5),
               fmt::format("{{\"header\":{{\"stamp\":{{\"sec\":{},\"nanosec\":{}}},\"frame_id\":"
                           "\"base_link\"}},\"point\":{{\"x\":{},\"y\":{},\"z\":0.5}}}}",
                           i, 3 * i, x, y)});
          writer.write("/point", "geometry_msgs/msg/PointStamped", bag_test::kPointStampedSchema,
                       sent.back().time, sent.back().data);
        }
      }
      writer.close();
      chunks = bag_io::McapReader(path).chunkCount();
    }
    const auto out = lines(node("read_mcap.mjs", "'" + path + "'"));

    ASSERT_EQ(linesOf(out, "data_crc").size(), 1u);
    EXPECT_EQ(linesOf(out, "data_crc")[0][1], "ok");
    EXPECT_EQ(linesOf(out, "profile")[0][1], "ros2");
    const auto statistics = linesOf(out, "statistics");
    ASSERT_EQ(statistics.size(), 1u);
    EXPECT_EQ(statistics[0], (std::vector<std::string>{"statistics", "45", "2", "2",
                                                       std::to_string(chunks), "2000", "2290"}));
    const auto chunk_lines = linesOf(out, "chunk");
    EXPECT_EQ(chunk_lines.size(), chunks);
    EXPECT_GT(chunks, 2u);
    for (const auto& chunk : chunk_lines) {
      EXPECT_EQ(chunk[1], name);
    }
    const auto channels = linesOf(out, "channel");
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels[0], (std::vector<std::string>{"channel", "/chatter", "std_msgs/msg/String",
                                                     "ros2msg", "cdr", "30", "qos"}));
    EXPECT_EQ(channels[1],
              (std::vector<std::string>{"channel", "/point", "geometry_msgs/msg/PointStamped",
                                        "ros2msg", "cdr", "15", "qos"}));

    std::stable_sort(sent.begin(), sent.end(),
                     [](const Sent& a, const Sent& b) { return a.time < b.time; });
    const auto messages = linesOf(out, "message");
    ASSERT_EQ(messages.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
      SCOPED_TRACE("message " + std::to_string(i));
      ASSERT_EQ(messages[i].size(), 6u);
      EXPECT_EQ(messages[i][1], sent[i].topic);
      EXPECT_EQ(messages[i][2], std::to_string(sent[i].time));
      EXPECT_EQ(messages[i][3], std::to_string(sent[i].time));
      EXPECT_EQ(messages[i][4], bag_test::hex(sent[i].data));
      EXPECT_EQ(messages[i][5], sent[i].json);
    }
    EXPECT_EQ(linesOf(out, "streamed_messages")[0][1], std::to_string(sent.size()));
  }
}

// Schemas built from the installed .msg files let an independent ROS 2 decoder read the
// messages a recorder writes: clouds and transforms.
TEST_F(McapInterop, BuiltSchemasDecodeInAnIndependentReader) {
  bag_test::ScratchDir dir;
  const std::string path = (dir / "built.mcap").string();
  bag_io::MsgSchemaBuilder builder({INTERFACE_SHARE_DIR});
  const std::vector<float> xyz = {1.5f, -2.0f, 0.25f, 3.0f, 4.5f, -0.5f};
  const Bytes cloud = bag_test::pointCloud2Cdr(5, "lidar", xyz);
  const double translation[3] = {0.25, -1.5, 2.0};
  const double rotation[4] = {0.0, 0.0, 0.5, 0.75};
  const Bytes transform =
      bag_test::transformStampedCdr(7, 9, "base_footprint", "3d_lidar_link", translation, rotation);
  {
    bag_io::McapWriter writer(path);
    writer.write("/cloud", "sensor_msgs/msg/PointCloud2",
                 builder.schemaText("sensor_msgs/msg/PointCloud2"), 100, cloud);
    writer.write("/transform", "geometry_msgs/msg/TransformStamped",
                 builder.schemaText("geometry_msgs/msg/TransformStamped"), 200, transform);
    writer.close();
  }
  std::string data_json;
  const std::size_t data_start = cloud.size() - 1 - 24;  // 24 bytes of points, then is_dense
  for (std::size_t i = 0; i < 24; ++i) {
    data_json += fmt::format("{}\"{}\":{}", i == 0 ? "" : ",", i, cloud[data_start + i]);
  }
  const std::string cloud_json =
      "{\"header\":{\"stamp\":{\"sec\":5,\"nanosec\":0},\"frame_id\":\"lidar\"},\"height\":1,"
      "\"width\":2,\"fields\":[{\"name\":\"x\",\"offset\":0,\"datatype\":7,\"count\":1},"
      "{\"name\":\"y\",\"offset\":4,\"datatype\":7,\"count\":1},{\"name\":\"z\",\"offset\":8,"
      "\"datatype\":7,\"count\":1}],\"is_bigendian\":false,\"point_step\":12,\"row_step\":24,"
      "\"data\":{" +
      data_json + "},\"is_dense\":true}";
  const std::string transform_json =
      "{\"header\":{\"stamp\":{\"sec\":7,\"nanosec\":9},\"frame_id\":\"base_footprint\"},"
      "\"child_frame_id\":\"3d_lidar_link\",\"transform\":{\"translation\":{\"x\":0.25,"
      "\"y\":-1.5,\"z\":2},\"rotation\":{\"x\":0,\"y\":0,\"z\":0.5,\"w\":0.75}}}";
  const auto messages = linesOf(lines(node("read_mcap.mjs", "'" + path + "'")), "message");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0][1], "/cloud");
  EXPECT_EQ(messages[0][5], cloud_json);
  EXPECT_EQ(messages[1][1], "/transform");
  EXPECT_EQ(messages[1][5], transform_json);
}

TEST_F(McapInterop, McapJsFilesReadByUs) {
  bag_test::ScratchDir dir;
  // What write_mcap.mjs writes, encoded here by hand.
  std::vector<Sent> expected;
  for (int i = 0; i < 40; ++i) {
    expected.push_back({"/chatter", 1'000'000'000u + 1000u * i,
                        bag_test::stringCdr("message " + std::to_string(i)), ""});
    if (i < 20) {
      expected.push_back(
          {"/point", 1'000'000'000u + 2000u * i + 500u,
           bag_test::pointStampedCdr(100 + i, 7 * i, "map", i / 4.0, -static_cast<double>(i), 0.5),
           ""});
    }
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const Sent& a, const Sent& b) { return a.time < b.time; });

  const std::vector<std::pair<std::string, std::string>> variants = {{"none", "indexed"},
                                                                     {"zstd", "indexed"},
                                                                     {"lz4", "indexed"},
                                                                     {"zstd", "unindexed"},
                                                                     {"none", "unchunked"}};
  for (const auto& [compression, mode] : variants) {
    SCOPED_TRACE(compression + " " + mode);
    const std::string path = (dir / (compression + "_" + mode + ".mcap")).string();
    node("write_mcap.mjs", fmt::format("'{}' {} {}", path, compression, mode));
    bag_io::McapReader reader(path);
    // Only a file whose message indexes account for every message is read by its summary.
    EXPECT_EQ(reader.openedBySummary(), mode == "indexed");
    ASSERT_EQ(reader.topics().size(), 2u);
    EXPECT_EQ(reader.topics()[0].name, "/chatter");
    EXPECT_EQ(reader.topics()[0].type, "std_msgs/msg/String");
    EXPECT_EQ(reader.topics()[0].schema_text, bag_test::kStringSchema);
    EXPECT_EQ(reader.topics()[0].message_count, 40u);
    EXPECT_EQ(reader.topics()[1].name, "/point");
    EXPECT_EQ(reader.topics()[1].schema_text, bag_test::kPointStampedSchema);
    EXPECT_EQ(reader.topics()[1].message_count, 20u);

    const auto got = bag_test::readAll(reader);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE("message " + std::to_string(i));
      EXPECT_EQ(got[i].topic, expected[i].topic);
      EXPECT_EQ(got[i].log_time, expected[i].time);
      EXPECT_EQ(bag_test::hex(got[i].data), bag_test::hex(expected[i].data));
    }
  }
}

}  // namespace
