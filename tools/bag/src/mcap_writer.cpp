#include "bag_io/mcap_writer.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include "bag_io/bag_error.hpp"
#include "bag_io/qos_profile.hpp"
#include "byte_writer.hpp"
#include "crc32.hpp"
#include "file_handle.hpp"
#include "mcap_records.hpp"

namespace bag_io {

class McapWriter::Impl {
 public:
  Impl(const std::string& path, McapWriterOptions options)
      : file_(path, FileHandle::Mode::kWrite), options_(std::move(options)) {
    ByteWriter start;
    start.bytes(mcap::kMagic, sizeof(mcap::kMagic));
    mcap::encode(start, mcap::Header{options_.profile, options_.library});
    emit(start);
  }

  std::uint16_t addTopic(const TopicInfo& topic) {
    requireOpen();
    if (const auto it = channel_ids_.find(topic.name); it != channel_ids_.end()) {
      const mcap::Channel& known = channels_[it->second - 1];
      const std::string& known_type =
          known.schema_id == 0 ? std::string() : schemas_[known.schema_id - 1].name;
      if (known_type != topic.type) {
        throw std::invalid_argument(fmt::format("topic {} was added with type {}, now with {}",
                                                topic.name, known_type, topic.type));
      }
      return it->second;
    }
    if (channels_.size() >= std::numeric_limits<std::uint16_t>::max()) {
      throw std::invalid_argument("an MCAP file holds at most 65535 channels");
    }
    mcap::Channel channel;
    channel.id = static_cast<std::uint16_t>(channels_.size() + 1);
    channel.schema_id = schemaFor(topic);
    channel.topic = topic.name;
    channel.message_encoding = topic.serialization_format;
    channel.metadata["offered_qos_profiles"] = topic.offered_qos_profiles;
    ByteWriter record;
    mcap::encode(record, channel);
    emit(record);
    channels_.push_back(channel);
    channel_ids_[topic.name] = channel.id;
    return channel.id;
  }

  void write(std::uint16_t channel_id, std::uint64_t log_time, std::uint64_t publish_time,
             const std::uint8_t* data, std::size_t size) {
    requireOpen();
    if (channel_id == 0 || channel_id > channels_.size()) {
      throw std::invalid_argument(
          fmt::format("channel id {} was not returned by addTopic (ids "
                      "1..{} exist)",
                      channel_id, channels_.size()));
    }
    mcap::MessageHeader header;
    header.channel_id = channel_id;
    header.sequence = sequences_[channel_id]++;
    header.log_time = log_time;
    header.publish_time = publish_time == 0 ? log_time : publish_time;
    const std::uint64_t offset_in_chunk = chunk_.size();
    mcap::encodeMessage(chunk_, header, data, size);

    auto& index = chunk_message_indexes_[channel_id];
    index.channel_id = channel_id;
    index.records.emplace_back(log_time, offset_in_chunk);
    if (chunk_messages_ == 0) {
      chunk_start_time_ = chunk_end_time_ = log_time;
    }
    chunk_start_time_ = std::min(chunk_start_time_, log_time);
    chunk_end_time_ = std::max(chunk_end_time_, log_time);
    ++chunk_messages_;

    if (statistics_.message_count == 0) {
      statistics_.message_start_time = statistics_.message_end_time = log_time;
    }
    statistics_.message_start_time = std::min(statistics_.message_start_time, log_time);
    statistics_.message_end_time = std::max(statistics_.message_end_time, log_time);
    ++statistics_.message_count;
    ++statistics_.channel_message_counts[channel_id];

    if (chunk_.size() >= options_.chunk_size) {
      flushChunk();
    }
  }

  void close() {
    if (closed_) {
      return;
    }
    closed_ = true;
    flushChunk();
    ByteWriter data_end;
    mcap::encodeDataEnd(data_end, data_crc_.value());
    emit(data_end);
    in_data_section_ = false;

    ByteWriter tail;
    mcap::Footer footer;
    if (options_.write_summary) {
      footer.summary_start = position_;
      std::vector<mcap::SummaryOffset> groups;
      auto group = [&](mcap::Opcode opcode, auto&& encode_all) {
        const std::size_t before = tail.size();
        encode_all();
        if (tail.size() > before) {
          groups.push_back({static_cast<std::uint8_t>(opcode), footer.summary_start + before,
                            tail.size() - before});
        }
      };
      group(mcap::Opcode::kSchema, [&] {
        for (const auto& schema : schemas_)
          mcap::encode(tail, schema);
      });
      group(mcap::Opcode::kChannel, [&] {
        for (const auto& channel : channels_)
          mcap::encode(tail, channel);
      });
      group(mcap::Opcode::kStatistics, [&] {
        statistics_.schema_count = static_cast<std::uint16_t>(schemas_.size());
        statistics_.channel_count = static_cast<std::uint32_t>(channels_.size());
        statistics_.chunk_count = static_cast<std::uint32_t>(chunk_indexes_.size());
        mcap::encode(tail, statistics_);
      });
      group(mcap::Opcode::kChunkIndex, [&] {
        for (const auto& index : chunk_indexes_)
          mcap::encode(tail, index);
      });
      footer.summary_offset_start = footer.summary_start + tail.size();
      for (const auto& offset : groups) {
        mcap::encode(tail, offset);
      }
    }
    mcap::encodeFooterWithoutCrc(tail, footer);
    // The CRC runs from the summary's first byte through the footer's offsets.
    tail.u32(options_.write_summary ? Crc32::of(tail.data().data(), tail.size()) : 0);
    tail.bytes(mcap::kMagic, sizeof(mcap::kMagic));
    emit(tail);
    file_.close();
  }

  bool closed() const { return closed_; }

 private:
  void requireOpen() const {
    if (closed_) {
      throw std::logic_error("McapWriter for " + file_.path() + " is already closed");
    }
  }

  std::uint16_t schemaFor(const TopicInfo& topic) {
    if (topic.type.empty()) {
      return 0;
    }
    const auto key = std::make_pair(topic.type, topic.schema_text);
    if (const auto it = schema_ids_.find(key); it != schema_ids_.end()) {
      return it->second;
    }
    if (schemas_.size() >= std::numeric_limits<std::uint16_t>::max()) {
      throw std::invalid_argument("an MCAP file holds at most 65535 schemas");
    }
    mcap::Schema schema;
    schema.id = static_cast<std::uint16_t>(schemas_.size() + 1);
    schema.name = topic.type;
    schema.encoding = topic.schema_encoding;
    schema.data = topic.schema_text;
    ByteWriter record;
    mcap::encode(record, schema);
    emit(record);
    schemas_.push_back(schema);
    schema_ids_[key] = schema.id;
    return schema.id;
  }

  void flushChunk() {
    if (chunk_messages_ == 0) {
      return;
    }
    const Compression compression = options_.compression;
    const std::vector<std::uint8_t> compressed =
        compress(compression, chunk_.data().data(), chunk_.size());
    mcap::Chunk chunk;
    chunk.message_start_time = chunk_start_time_;
    chunk.message_end_time = chunk_end_time_;
    chunk.uncompressed_size = chunk_.size();
    chunk.uncompressed_crc = Crc32::of(chunk_.data().data(), chunk_.size());
    chunk.compression = compressionName(compression);
    chunk.records = compressed.data();
    chunk.records_size = compressed.size();
    ByteWriter record;
    mcap::encodeChunk(record, chunk);

    mcap::ChunkIndex index;
    index.message_start_time = chunk_start_time_;
    index.message_end_time = chunk_end_time_;
    index.chunk_start_offset = position_;
    index.chunk_length = record.size();
    index.compression = chunk.compression;
    index.compressed_size = compressed.size();
    index.uncompressed_size = chunk_.size();
    emit(record);

    ByteWriter indexes;
    for (const auto& [channel_id, message_index] : chunk_message_indexes_) {
      index.message_index_offsets[channel_id] = position_ + indexes.size();
      mcap::encode(indexes, message_index);
    }
    index.message_index_length = indexes.size();
    emit(indexes);
    chunk_indexes_.push_back(std::move(index));

    chunk_.clear();
    chunk_message_indexes_.clear();
    chunk_messages_ = 0;
  }

  void emit(const ByteWriter& bytes) {
    file_.write(bytes.data().data(), bytes.size());
    if (in_data_section_) {
      data_crc_.update(bytes.data().data(), bytes.size());
    }
    position_ += bytes.size();
  }

  FileHandle file_;
  McapWriterOptions options_;
  std::uint64_t position_{0};
  bool in_data_section_{true};
  bool closed_{false};
  Crc32 data_crc_;

  std::map<std::pair<std::string, std::string>, std::uint16_t> schema_ids_;
  std::vector<mcap::Schema> schemas_;  // id i at [i - 1]
  std::map<std::string, std::uint16_t> channel_ids_;
  std::vector<mcap::Channel> channels_;  // id i at [i - 1]
  std::map<std::uint16_t, std::uint32_t> sequences_;

  ByteWriter chunk_;
  std::size_t chunk_messages_{0};
  std::uint64_t chunk_start_time_{0};
  std::uint64_t chunk_end_time_{0};
  std::map<std::uint16_t, mcap::MessageIndex> chunk_message_indexes_;

  std::vector<mcap::ChunkIndex> chunk_indexes_;
  mcap::Statistics statistics_;
};

McapWriter::McapWriter(const std::string& path, McapWriterOptions options)
    : path_(path), impl_(std::make_unique<Impl>(path, std::move(options))) {}

McapWriter::~McapWriter() {
  try {
    impl_->close();
  } catch (const std::exception&) {
    // A destructor must not throw; callers who care about the error call close().
  }
}

std::uint16_t McapWriter::addTopic(const TopicInfo& topic) {
  return impl_->addTopic(topic);
}

void McapWriter::write(std::uint16_t channel_id, std::uint64_t log_time, std::uint64_t publish_time,
                       const std::uint8_t* data, std::size_t size) {
  impl_->write(channel_id, log_time, publish_time, data, size);
}

void McapWriter::write(const std::string& topic, const std::string& type,
                       const std::string& schema_text, std::uint64_t log_time,
                       const std::vector<std::uint8_t>& data) {
  TopicInfo info;
  info.name = topic;
  info.type = type;
  info.schema_text = schema_text;
  info.offered_qos_profiles = offeredQosProfiles(topic == "/tf_static");
  const std::uint16_t id = impl_->addTopic(info);
  impl_->write(id, log_time, log_time, data.data(), data.size());
}

void McapWriter::close() {
  impl_->close();
}

}  // namespace bag_io
