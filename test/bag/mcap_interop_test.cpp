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
