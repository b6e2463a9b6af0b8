// Write → read round trips of McapWriter and McapReader, for each chunk compression, with and
// without the summary; expected values come from the test's own list of what it wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bag_io/bag_error.hpp"
#include "bag_io/mcap_reader.hpp"
#include "bag_io/mcap_writer.hpp"
#include "bag_io/qos_profile.hpp"
#include "bag_test_support.hpp"

namespace {

using bag_io::BagMessage;
using bag_io::Compression;
using bag_io::McapReader;
using bag_io::McapWriter;
using bag_io::McapWriterOptions;
using bag_io::TopicInfo;
using bag_test::Bytes;

struct Written {
  std::string topic;
  std::uint64_t log_time;
  Bytes data;
};

TopicInfo topic(const std::string& name, const std::string& type, const std::string& schema,
                bool latched = false) {
  TopicInfo info;
  info.name = name;
  info.type = type;
  info.schema_text = schema;
  info.offered_qos_profiles = bag_io::offeredQosProfiles(latched);
  return info;
}

// 300 messages on three topics with log times that jump back and forth and repeat, payload
// sizes from 0 to 3000 bytes, written with small chunks so that chunks overlap in time.
std::vector<Written> writeSample(const std::string& path, McapWriterOptions options) {
  McapWriter writer(path, options);
  const std::uint16_t chatter =
      writer.addTopic(topic("/chatter", "std_msgs/msg/String", bag_test::kStringSchema));
  const std::uint16_t point = writer.addTopic(
      topic("/point", "geometry_msgs/msg/PointStamped", bag_test::kPointStampedSchema));
  const std::uint16_t blob =
      writer.addTopic(topic("/tf_static", "tf2_msgs/msg/TFMessage", "opaque\n", true));
  std::mt19937 random(7);
  std::vector<Written> written;
  for (int i = 0; i < 300; ++i) {
    const std::uint64_t log_time = 5'000'000'000ULL + 1000ULL * (i / 3) + random() % 4000;
    Written w;
    w.log_time = log_time;
    std::uint16_t channel = 0;
    switch (i % 3) {
      case 0:
        w.topic = "/chatter";
        w.data = bag_test::stringCdr("message " + std::to_string(i));
        channel = chatter;
        break;
      case 1:
        w.topic = "/point";
        w.data = bag_test::pointStampedCdr(i, 7 * i, "map", i * 0.25, -i, 0.5);
        channel = point;
        break;
      default:
        w.topic = "/tf_static";
        w.data.resize(random() % 3000);
        for (auto& b : w.data)
          b = static_cast<std::uint8_t>(random());
        channel = blob;
        break;
    }
    writer.write(channel, w.log_time, 0, w.data.data(), w.data.size());
    written.push_back(std::move(w));
  }
  writer.close();
  // Log-time order; equal times keep the order of writing.
  std::stable_sort(written.begin(), written.end(),
                   [](const Written& a, const Written& b) { return a.log_time < b.log_time; });
  return written;
}

void expectMessages(const std::vector<Written>& expected, const std::vector<BagMessage>& got) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("message " + std::to_string(i));
    EXPECT_EQ(got[i].topic, expected[i].topic);
    EXPECT_EQ(got[i].log_time, expected[i].log_time);
    EXPECT_EQ(got[i].publish_time, expected[i].log_time);
    EXPECT_EQ(got[i].data, expected[i].data);
  }
}

TEST(McapRoundTrip, EveryCompressionWithAndWithoutSummary) {
  bag_test::ScratchDir dir;
  for (const Compression compression :
       {Compression::kNone, Compression::kZstd, Compression::kLz4}) {
    for (const bool summary : {true, false}) {
      SCOPED_TRACE(std::string("compression '") + bag_io::compressionName(compression) +
                   "', summary " + (summary ? "on" : "off"));
      const std::string path = (dir / "round_trip.mcap").string();
      McapWriterOptions options;
      options.compression = compression;
      options.chunk_size = 8 * 1024;
      options.write_summary = summary;
      const std::vector<Written> expected = writeSample(path, options);

      McapReader reader(path);
      EXPECT_EQ(reader.openedBySummary(), summary);
      EXPECT_EQ(reader.profile(), "ros2");
      EXPECT_GT(reader.chunkCount(), 5u);

      const auto& topics = reader.topics();
      ASSERT_EQ(topics.size(), 3u);
      EXPECT_EQ(topics[0].name, "/chatter");
      EXPECT_EQ(topics[0].type, "std_msgs/msg/String");
      EXPECT_EQ(topics[0].schema_encoding, "ros2msg");
      EXPECT_EQ(topics[0].schema_text, bag_test::kStringSchema);
      EXPECT_EQ(topics[0].serialization_format, "cdr");
      EXPECT_EQ(topics[0].offered_qos_profiles, bag_io::offeredQosProfiles(false));
      EXPECT_EQ(topics[1].type, "geometry_msgs/msg/PointStamped");
      EXPECT_EQ(topics[1].schema_text, bag_test::kPointStampedSchema);
      EXPECT_EQ(topics[2].offered_qos_profiles, bag_io::offeredQosProfiles(true));
      for (const auto& t : topics) {
        EXPECT_EQ(t.message_count, 100u) << t.name;
      }

      expectMessages(expected, bag_test::readAll(reader));

      // A filter restarts reading and keeps only the chosen topic, still in log-time order.
      reader.setTopicFilter({"/point"});
      std::vector<Written> points;
      std::copy_if(expected.begin(), expected.end(), std::back_inserter(points),
                   [](const Written& w) { return w.topic == "/point"; });
      expectMessages(points, bag_test::readAll(reader));

      reader.setTopicFilter({});
      expectMessages(expected, bag_test::readAll(reader));
      EXPECT_THROW(reader.setTopicFilter({"/nope"}), std::invalid_argument);
    }
  }
}

TEST(McapRoundTrip, ConvenienceWriteRegistersTopicsOnFirstUse) {
  bag_test::ScratchDir dir;
  const std::string path = (dir / "convenience.mcap").string();
  {
    McapWriter writer(path);
    writer.write("/chatter", "std_msgs/msg/String", bag_test::kStringSchema, 20,
                 bag_test::stringCdr("b"));
    writer.write("/chatter", "std_msgs/msg/String", bag_test::kStringSchema, 10,
                 bag_test::stringCdr("a"));
    EXPECT_THROW(writer.write("/chatter", "std_msgs/msg/Int32", "int32 data\n", 30, {}),
                 std::invalid_argument);
    writer.close();
    EXPECT_THROW(writer.write("/chatter", "std_msgs/msg/String", "", 40, {}), std::logic_error);
  }
  McapReader reader(path);
  ASSERT_EQ(reader.topics().size(), 1u);
  EXPECT_EQ(reader.topics()[0].message_count, 2u);
  const auto messages = bag_test::readAll(reader);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].data, bag_test::stringCdr("a"));
  EXPECT_EQ(messages[1].data, bag_test::stringCdr("b"));
}

TEST(McapRoundTrip, EmptyFileHasNoTopicsAndNoMessages) {
  bag_test::ScratchDir dir;
  const std::string path = (dir / "empty.mcap").string();
  McapWriter(path).close();
  McapReader reader(path);
  EXPECT_TRUE(reader.topics().empty());
  BagMessage message;
  EXPECT_FALSE(reader.readNext(message));
}

TEST(McapRoundTrip, WriterRejectsUnknownChannelAndUnwritablePath) {
  bag_test::ScratchDir dir;
  McapWriter writer((dir / "x.mcap").string());
  const std::uint8_t byte = 0;
  EXPECT_THROW(writer.write(1, 0, 0, &byte, 1), std::invalid_argument);
  EXPECT_THROW(McapWriter((dir / "missing" / "x.mcap").string()), bag_io::BagError);
}

}  // namespace
