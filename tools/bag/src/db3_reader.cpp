#include "bag_io/db3_reader.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "bag_io/bag_error.hpp"
#include "bag_metadata.hpp"
#include "sqlite_handle.hpp"

namespace bag_io {

namespace fs = std::filesystem;

class Db3Reader::Impl {
 public:
  explicit Impl(const std::string& path) {
    const fs::path given(path);
    const fs::path folder = fs::is_directory(given) ? given : given.parent_path();
    if (!fs::is_directory(given) && given.extension() != ".db3") {
      throw BagError(path, "neither a bag folder nor a .db3 file");
    }
    if (!fs::exists(given)) {
      throw BagError(path, "no such file or folder");
    }
    path_ = folder.string();
    const std::string metadata_path = (folder / "metadata.yaml").string();
    const BagMetadata metadata = readBagMetadata(metadata_path);
    if (metadata.storage_identifier != "sqlite3") {
      throw BagError(metadata_path, fmt::format("storage_identifier is '{}', expected sqlite3",
                                                metadata.storage_identifier));
    }
    if (!metadata.compression_mode.empty() || !metadata.compression_format.empty()) {
      throw BagError(metadata_path,
                     fmt::format("compressed bags ({} {}) are not supported; decompress with "
                                 "ros2 bag convert first",
                                 metadata.compression_mode, metadata.compression_format));
    }
    if (metadata.relative_file_paths.empty()) {
      throw BagError(metadata_path, "relative_file_paths lists no database file");
    }
    for (const auto& relative : metadata.relative_file_paths) {
      files_.push_back((folder / relative).string());
    }
    // Topic ids are per database file; topics are merged by name across files.
    for (const auto& file : files_) {
      SqliteDatabase db(file);
      SqliteStatement statement(
          db, "SELECT id, name, type, serialization_format, offered_qos_profiles FROM topics");
      auto& ids = topic_ids_[file];
      while (statement.step()) {
        const std::string name = statement.text(1);
        ids[statement.integer(0)] = name;
        if (topicIndex(name)) {
          continue;
        }
        TopicInfo topic;
        topic.name = name;
        topic.type = statement.text(2);
        topic.serialization_format = statement.text(3);
        topic.offered_qos_profiles = statement.text(4);
        topic.schema_encoding.clear();
        for (const auto& listed : metadata.topics) {
          if (listed.name == name) {
            topic.message_count = listed.message_count;
          }
        }
        topics_.push_back(std::move(topic));
      }
    }
    setTopicFilter({});
  }

  const std::string& path() const { return path_; }
  const std::vector<TopicInfo>& topics() const { return topics_; }

  void setTopicFilter(const std::vector<std::string>& topic_names) {
    for (const auto& name : topic_names) {
      if (!topicIndex(name)) {
        throw std::invalid_argument(fmt::format("{}: no topic {} in this bag", path_, name));
      }
    }
    wanted_ = std::set<std::string>(topic_names.begin(), topic_names.end());
    statement_.reset();
    db_.reset();
    file_index_ = 0;
  }

  bool readNext(BagMessage& message) {
    while (file_index_ < files_.size()) {
      if (statement_ == std::nullopt) {
        open(files_[file_index_]);
      }
      if (statement_->step()) {
        const auto& ids = topic_ids_.at(files_[file_index_]);
        const auto topic = ids.find(statement_->integer(0));
        if (topic == ids.end()) {
          throw BagError(files_[file_index_],
                         fmt::format("a message refers to topic id {}, which the topics table "
                                     "lacks",
                                     statement_->integer(0)));
        }
        message.topic = topic->second;
        message.log_time = static_cast<std::uint64_t>(statement_->integer(1));
        message.publish_time = message.log_time;
        message.data = statement_->blob(2);
        return true;
      }
      statement_.reset();
      db_.reset();
      ++file_index_;
    }
    return false;
  }

 private:
  std::optional<std::size_t> topicIndex(const std::string& name) const {
    for (std::size_t i = 0; i < topics_.size(); ++i) {
      if (topics_[i].name == name) {
        return i;
      }
    }
    return std::nullopt;
  }

  void open(const std::string& file) {
    std::string sql = "SELECT topic_id, timestamp, data FROM messages";
    if (!wanted_.empty()) {
      std::string ids;
      for (const auto& [id, name] : topic_ids_.at(file)) {
        if (wanted_.count(name) > 0) {
          ids += (ids.empty() ? "" : ",") + std::to_string(id);
        }
      }
      sql += " WHERE topic_id IN (" + ids + ")";
    }
    sql += " ORDER BY timestamp, id";
    db_.emplace(file);
    statement_.emplace(*db_, sql);
  }

  std::string path_;
  std::vector<std::string> files_;
  std::map<std::string, std::map<std::int64_t, std::string>> topic_ids_;  // per file
  std::vector<TopicInfo> topics_;
  std::set<std::string> wanted_;
  std::size_t file_index_{0};
  std::optional<SqliteDatabase> db_;
  std::optional<SqliteStatement> statement_;  // declared after db_: destroyed first
};

Db3Reader::Db3Reader(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}
Db3Reader::~Db3Reader() = default;

const std::string& Db3Reader::path() const {
  return impl_->path();
}
const std::vector<TopicInfo>& Db3Reader::topics() const {
  return impl_->topics();
}
void Db3Reader::setTopicFilter(const std::vector<std::string>& topic_names) {
  impl_->setTopicFilter(topic_names);
}
bool Db3Reader::readNext(BagMessage& message) {
  return impl_->readNext(message);
}

}  // namespace bag_io
