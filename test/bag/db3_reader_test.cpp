// Reading rosbag2 sqlite3 bags made with the sqlite3 command-line tool in rosbag2's schema.
#include <gtest/gtest.h>

#include <fstream>

#include "bag_io/bag_error.hpp"
#include "bag_io/db3_reader.hpp"
#include "bag_test_support.hpp"

namespace {

using bag_io::BagError;
using bag_io::Db3Reader;
using bag_test::Bytes;

const char* const kTables =
    "CREATE TABLE schema(schema_version INTEGER PRIMARY KEY, ros_distro TEXT NOT NULL);\n"
    "INSERT INTO schema VALUES(3, 'humble');\n"
    "CREATE TABLE topics(id INTEGER PRIMARY KEY, name TEXT NOT NULL, type TEXT NOT NULL, "
    "serialization_format TEXT NOT NULL, offered_qos_profiles TEXT NOT NULL);\n"
    "CREATE TABLE messages(id INTEGER PRIMARY KEY, topic_id INTEGER NOT NULL, "
    "timestamp INTEGER NOT NULL, data BLOB NOT NULL);\n"
    "CREATE INDEX timestamp_idx ON messages (timestamp ASC);\n";

void runSql(const std::filesystem::path& db, const std::string& sql) {
  const auto script = db.string() + ".sql";
  {
    std::ofstream out(script);
    out << sql;
  }
  std::string output;
  ASSERT_EQ(
      bag_test::runCommand(
          std::string(SQLITE3_PROGRAM) + " '" + db.string() + "' < '" + script + "' 2>&1", output),
      0)
      << "sqlite3 command-line tool (scripts/setup installs it): " << output;
}

std::string insertMessage(int id, int topic, std::int64_t time, const Bytes& data) {
  return "INSERT INTO messages VALUES(" + std::to_string(id) + ", " + std::to_string(topic) + ", " +
         std::to_string(time) + ", X'" + bag_test::hex(data) + "');\n";
}

void writeMetadata(const std::filesystem::path& folder, const std::string& files) {
  std::ofstream out(folder / "metadata.yaml");
  out << "rosbag2_bagfile_information:\n"
         "  version: 5\n"
         "  storage_identifier: sqlite3\n"
         "  duration:\n    nanoseconds: 500\n"
         "  starting_time:\n    nanoseconds_since_epoch: 100\n"
         "  message_count: 5\n"
         "  topics_with_message_count:\n"
         "    - topic_metadata:\n"
         "        name: /chatter\n"
         "        type: std_msgs/msg/String\n"
         "        serialization_format: cdr\n"
         "        offered_qos_profiles: \"- history: 3\\n  depth: 0\\n\"\n"
         "      message_count: 3\n"
         "    - topic_metadata:\n"
         "        name: /point\n"
         "        type: geometry_msgs/msg/PointStamped\n"
         "        serialization_format: cdr\n"
         "        offered_qos_profiles: \"\"\n"
         "      message_count: 2\n"
         "  compression_format: \"\"\n"
         "  compression_mode: \"\"\n"
         "  relative_file_paths:\n"
      << files;
}

struct Expected {
  std::string topic;
  std::uint64_t time;
  Bytes data;
};

// A bag folder with two topics; messages inserted out of timestamp order.
std::vector<Expected> makeBag(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  const std::vector<std::pair<int, Expected>> rows = {
      {1, {"/chatter", 300, bag_test::stringCdr("third")}},
      {1, {"/chatter", 100, bag_test::stringCdr("first")}},
      {2, {"/point", 200, bag_test::pointStampedCdr(1, 2, "map", 0.5, 1.5, -2)}},
      {1, {"/chatter", 600, bag_test::stringCdr("")}},
      {2, {"/point", 400, bag_test::pointStampedCdr(3, 4, "odom", 1, 2, 3)}},
  };
  std::string sql = kTables;
  sql +=
      "INSERT INTO topics VALUES(1, '/chatter', 'std_msgs/msg/String', 'cdr', "
      "'- history: 3\n  depth: 0\n');\n";
  sql += "INSERT INTO topics VALUES(2, '/point', 'geometry_msgs/msg/PointStamped', 'cdr', '');\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    sql += insertMessage(static_cast<int>(i + 1), rows[i].first,
                         static_cast<std::int64_t>(rows[i].second.time), rows[i].second.data);
  }
  runSql(folder / "bag_0.db3", sql);
  writeMetadata(folder, "    - bag_0.db3\n");
  return {rows[1].second, rows[2].second, rows[0].second, rows[4].second, rows[3].second};
}

void expectMessages(bag_io::BagReader& reader, const std::vector<Expected>& expected) {
  const auto got = bag_test::readAll(reader);
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].topic, expected[i].topic) << i;
    EXPECT_EQ(got[i].log_time, expected[i].time) << i;
    EXPECT_EQ(got[i].data, expected[i].data) << i;
  }
}

TEST(Db3Reader, ReadsTopicsAndMessagesInTimestampOrder) {
  bag_test::ScratchDir dir;
  const auto folder = dir / "bag";
  const auto expected = makeBag(folder);
  for (const std::string& path : {folder.string(), (folder / "bag_0.db3").string()}) {
    SCOPED_TRACE(path);
    const auto reader = bag_io::openBag(path);
    ASSERT_NE(dynamic_cast<Db3Reader*>(reader.get()), nullptr);
    const auto& topics = reader->topics();
    ASSERT_EQ(topics.size(), 2u);
    EXPECT_EQ(topics[0].name, "/chatter");
    EXPECT_EQ(topics[0].type, "std_msgs/msg/String");
    EXPECT_EQ(topics[0].serialization_format, "cdr");
    EXPECT_EQ(topics[0].offered_qos_profiles, "- history: 3\n  depth: 0\n");
    EXPECT_EQ(topics[0].message_count, 3u);
    EXPECT_EQ(topics[1].name, "/point");
    EXPECT_EQ(topics[1].message_count, 2u);
    expectMessages(*reader, expected);

    reader->setTopicFilter({"/point"});
    expectMessages(*reader, {expected[1], expected[3]});
    EXPECT_THROW(reader->setTopicFilter({"/missing"}), std::invalid_argument);
  }
}

TEST(Db3Reader, SplitBagReadsFilesInListedOrder) {
  bag_test::ScratchDir dir;
  const auto folder = dir / "split";
  std::filesystem::create_directories(folder);
  // Topic ids differ between the files: names tie them together.
  runSql(folder / "split_0.db3",
         std::string(kTables) +
             "INSERT INTO topics VALUES(1, '/chatter', 'std_msgs/msg/String', 'cdr', '');\n" +
             insertMessage(1, 1, 20, bag_test::stringCdr("b")) +
             insertMessage(2, 1, 10, bag_test::stringCdr("a")));
  runSql(folder / "split_1.db3",
         std::string(kTables) +
             "INSERT INTO topics VALUES(7, '/chatter', 'std_msgs/msg/String', 'cdr', '');\n" +
             insertMessage(1, 7, 30, bag_test::stringCdr("c")));
  writeMetadata(folder, "    - split_0.db3\n    - split_1.db3\n");
  Db3Reader reader(folder.string());
  ASSERT_EQ(reader.topics().size(), 1u);
  expectMessages(reader, {{"/chatter", 10, bag_test::stringCdr("a")},
                          {"/chatter", 20, bag_test::stringCdr("b")},
                          {"/chatter", 30, bag_test::stringCdr("c")}});
}

std::string errorOf(const std::string& path) {
  try {
    Db3Reader reader(path);
    bag_test::readAll(reader);
  } catch (const BagError& e) {
    return e.what();
  }
  ADD_FAILURE() << "no BagError for " << path;
  return {};
}

TEST(Db3Reader, ErrorsNameTheBadFile) {
  bag_test::ScratchDir dir;
  {
    const auto folder = dir / "no_metadata";
    makeBag(folder);
    std::filesystem::remove(folder / "metadata.yaml");
    const std::string error = errorOf(folder.string());
    EXPECT_NE(error.find((folder / "metadata.yaml").string()), std::string::npos) << error;
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
  }
  {
    const auto folder = dir / "garbage";
    makeBag(folder);
    bag_test::writeFile(folder / "bag_0.db3", Bytes(4096, 0x5A));
    const std::string error = errorOf(folder.string());
    EXPECT_NE(error.find((folder / "bag_0.db3").string()), std::string::npos) << error;
    EXPECT_NE(error.find("not a database"), std::string::npos) << error;
  }
  {
    const auto folder = dir / "no_table";
    std::filesystem::create_directories(folder);
    runSql(folder / "bag_0.db3", "CREATE TABLE other(x INTEGER);\n");
    writeMetadata(folder, "    - bag_0.db3\n");
    const std::string error = errorOf(folder.string());
    EXPECT_NE(error.find((folder / "bag_0.db3").string()), std::string::npos) << error;
    EXPECT_NE(error.find("no such table: topics"), std::string::npos) << error;
  }
  {
    const auto folder = dir / "missing_file";
    makeBag(folder);
    std::filesystem::remove(folder / "bag_0.db3");
    const std::string error = errorOf(folder.string());
    EXPECT_NE(error.find((folder / "bag_0.db3").string()), std::string::npos) << error;
  }
  {
    const auto folder = dir / "bad_yaml";
    makeBag(folder);
    std::ofstream(folder / "metadata.yaml") << "rosbag2_bagfile_information: [unclosed\n";
    const std::string error = errorOf(folder.string());
    EXPECT_NE(error.find((folder / "metadata.yaml").string()), std::string::npos) << error;
  }
  {
    // Found by the bag fuzzer: a metadata.yaml that is a single scalar made yaml-cpp throw its
    // own exception past the reader instead of a BagError.
    const auto folder = dir / "scalar_yaml";
    makeBag(folder);
    std::ofstream(folder / "metadata.yaml", std::ios::trunc) << "just text\n";
    const std::string error = errorOf(folder.string());
    EXPECT_NE(error.find((folder / "metadata.yaml").string()), std::string::npos) << error;
    EXPECT_NE(error.find("no rosbag2_bagfile_information map"), std::string::npos) << error;
  }
  {
    const auto folder = dir / "dangling_topic";
    std::filesystem::create_directories(folder);
    runSql(folder / "bag_0.db3",
           std::string(kTables) + insertMessage(1, 9, 5, bag_test::stringCdr("x")));
    writeMetadata(folder, "    - bag_0.db3\n");
    const std::string error = errorOf(folder.string());
    EXPECT_NE(error.find("topic id 9"), std::string::npos) << error;
  }
}

}  // namespace
