#include "bag_io/mcap_reader.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "bag_io/bag_error.hpp"
#include "bag_io/compression.hpp"
#include "byte_reader.hpp"
#include "crc32.hpp"
#include "file_handle.hpp"
#include "mcap_records.hpp"

namespace bag_io {
namespace {

// Larger chunks than this are refused rather than allocated: a damaged size field must not
// make the reader ask for terabytes. Recorders write chunks of a few megabytes.
constexpr std::uint64_t kMaxChunkBytes = std::uint64_t{1} << 30;

std::string hex32(std::uint32_t v) {
  return fmt::format("0x{:08x}", v);
}

// Where messages come from: a chunk, or a message record outside chunks.
struct Source {
  bool is_chunk{true};
  std::uint64_t offset{0};
  std::uint64_t start_time{0};
  std::set<std::uint16_t> channels;  // empty: not known without reading the chunk
};

struct PendingMessage {
  std::uint64_t log_time{0};
  std::uint64_t source_offset{0};
  std::uint64_t position{0};  // within the chunk; ties keep file order
  std::uint16_t channel_id{0};
  std::uint64_t publish_time{0};
  std::vector<std::uint8_t> data;
};

// Heap order: the earliest message on top.
bool later(const PendingMessage& a, const PendingMessage& b) {
  return std::tie(a.log_time, a.source_offset, a.position) >
         std::tie(b.log_time, b.source_offset, b.position);
}

}  // namespace

class McapReader::Impl {
 public:
  explicit Impl(const std::string& path) : file_(path, FileHandle::Mode::kRead) {
    size_ = file_.size();
    readStart();
    mcap::Footer footer;
    if (readFooter(footer) && footer.summary_start != 0 && openBySummary(footer)) {
      by_summary_ = true;
    } else {
      scanLinearly();
    }
    std::sort(sources_.begin(), sources_.end(), [](const Source& a, const Source& b) {
      return std::tie(a.start_time, a.offset) < std::tie(b.start_time, b.offset);
    });
    buildTopics();
    setTopicFilter({});
  }

  const std::string& path() const { return file_.path(); }
  const std::vector<TopicInfo>& topics() const { return topics_; }
  bool openedBySummary() const { return by_summary_; }
  const std::string& profile() const { return header_.profile; }
  std::size_t chunkCount() const { return chunk_count_; }

  void setTopicFilter(const std::vector<std::string>& topic_names) {
    std::set<std::string> wanted(topic_names.begin(), topic_names.end());
    for (const auto& name : wanted) {
      const bool known = std::any_of(topics_.begin(), topics_.end(),
                                     [&](const TopicInfo& t) { return t.name == name; });
      if (!known) {
        throw std::invalid_argument(
            fmt::format("{}: no topic {} in this file", file_.path(), name));
      }
    }
    allowed_.clear();
    for (const auto& [id, channel] : channels_) {
      if (wanted.empty() || wanted.count(channel.topic) > 0) {
        allowed_.insert(id);
      }
    }
    pending_.clear();
    next_source_ = 0;
  }

  bool readNext(BagMessage& message) {
    while (next_source_ < sources_.size() &&
           (pending_.empty() || sources_[next_source_].start_time <= pending_.front().log_time)) {
      load(sources_[next_source_++]);
    }
    if (pending_.empty()) {
      return false;
    }
    std::pop_heap(pending_.begin(), pending_.end(), later);
    PendingMessage& next = pending_.back();
    message.topic = channels_.at(next.channel_id).topic;
    message.log_time = next.log_time;
    message.publish_time = next.publish_time;
    message.data = std::move(next.data);
    pending_.pop_back();
    return true;
  }

 private:
  RecordLocation at(std::uint64_t offset) const { return {&file_.path(), offset, false, 0}; }

  [[noreturn]] void fail(std::uint64_t offset, const std::string& what) const {
    throw BagError(file_.path(), offset, what);
  }

  // Reads the 9-byte prefix of the record at `offset` and checks that its content lies within
  // `end`. Returns the content length.
  std::uint64_t recordAt(std::uint64_t offset, std::uint64_t end, std::uint8_t& opcode) const {
    if (end < offset || end - offset < mcap::kRecordPrefix) {
      fail(offset, fmt::format("record header needs {} bytes, only {} left before byte {} "
                               "(file truncated?)",
                               mcap::kRecordPrefix, end > offset ? end - offset : 0, end));
    }
    std::uint8_t prefix[mcap::kRecordPrefix];
    file_.readAt(offset, prefix, sizeof(prefix));
    opcode = prefix[0];
    ByteReader reader(prefix + 1, 8, at(offset));
    const std::uint64_t length = reader.u64();
    if (length > end - offset - mcap::kRecordPrefix) {
      fail(offset,
           fmt::format("{} record of {} bytes runs past byte {} ({} bytes left; file "
                       "truncated or length damaged)",
                       mcap::opcodeName(opcode), length, end, end - offset - mcap::kRecordPrefix));
    }
    return length;
  }

  void readStart() {
    if (size_ < sizeof(mcap::kMagic) + mcap::kRecordPrefix) {
      fail(0, fmt::format("{} bytes is too short for an MCAP file", size_));
    }
    std::uint8_t magic[sizeof(mcap::kMagic)];
    file_.readAt(0, magic, sizeof(magic));
    if (std::memcmp(magic, mcap::kMagic, 5) != 0) {
      fail(0, "not an MCAP file (the first bytes are not the MCAP magic)");
    }
    if (std::memcmp(magic, mcap::kMagic, sizeof(magic)) != 0) {
      fail(0, fmt::format("unsupported MCAP major version '{}' (this reader knows '0')",
                          static_cast<char>(magic[5])));
    }
    std::uint8_t opcode = 0;
    const std::uint64_t length = recordAt(sizeof(magic), size_, opcode);
    if (opcode != static_cast<std::uint8_t>(mcap::Opcode::kHeader)) {
      fail(sizeof(magic), fmt::format("the first record is {} (opcode {}), not the Header",
                                      mcap::opcodeName(opcode), opcode));
    }
    const auto content = file_.readAt(sizeof(magic) + mcap::kRecordPrefix, length);
    ByteReader reader(content.data(), content.size(), at(sizeof(magic)));
    header_ = mcap::parseHeader(reader);
    data_start_ = sizeof(magic) + mcap::kRecordPrefix + length;
  }

  // True when the file ends with a well-formed footer and magic.
  bool readFooter(mcap::Footer& footer) {
    const std::uint64_t tail = mcap::kRecordPrefix + mcap::kFooterContent + sizeof(mcap::kMagic);
    if (size_ < data_start_ + tail) {
      return false;
    }
    footer_offset_ = size_ - tail;
    const auto bytes = file_.readAt(footer_offset_, tail);
    ByteReader reader(bytes.data(), bytes.size(), at(footer_offset_));
    if (reader.u8() != static_cast<std::uint8_t>(mcap::Opcode::kFooter) ||
        reader.u64() != mcap::kFooterContent) {
      return false;
    }
    footer = mcap::parseFooter(reader);
    return std::memcmp(reader.take(sizeof(mcap::kMagic), "magic"), mcap::kMagic,
                       sizeof(mcap::kMagic)) == 0;
  }

  // Reads schemas, channels, chunk indexes and statistics from the summary. Returns false when
  // the summary does not index every message, so the file must be scanned.
  bool openBySummary(const mcap::Footer& footer) {
    if (footer.summary_start < data_start_ || footer.summary_start > footer_offset_) {
      fail(footer_offset_, fmt::format("footer's summary start {} lies outside the file's "
                                       "records (bytes {}..{})",
                                       footer.summary_start, data_start_, footer_offset_));
    }
    // The CRC covers the summary and the footer up to its own CRC field.
    const std::uint64_t crc_end = footer_offset_ + mcap::kRecordPrefix + 16;
    const auto summary = file_.readAt(footer.summary_start, crc_end - footer.summary_start);
    if (footer.summary_crc != 0) {
      const std::uint32_t computed = Crc32::of(summary.data(), summary.size());
      if (computed != footer.summary_crc) {
        fail(footer.summary_start,
             fmt::format("summary CRC mismatch: footer says {}, the bytes give {} (summary "
                         "damaged)",
                         hex32(footer.summary_crc), hex32(computed)));
      }
    }
    const std::uint64_t records_end =
        footer.summary_offset_start != 0 ? footer.summary_offset_start : footer_offset_;
    if (records_end < footer.summary_start || records_end > footer_offset_) {
      fail(footer_offset_, fmt::format("footer's summary offset start {} lies outside the summary",
                                       footer.summary_offset_start));
    }
    std::vector<mcap::ChunkIndex> chunk_indexes;
    bool have_statistics = false;
    std::uint64_t pos = footer.summary_start;
    while (pos < records_end) {
      std::uint8_t opcode = 0;
      const std::uint64_t length = recordAt(pos, records_end, opcode);
      const std::uint64_t begin = pos - footer.summary_start + mcap::kRecordPrefix;
      ByteReader reader(summary.data() + begin, length, at(pos));
      switch (static_cast<mcap::Opcode>(opcode)) {
        case mcap::Opcode::kSchema:
          addSchema(mcap::parseSchema(reader), pos);
          break;
        case mcap::Opcode::kChannel:
          addChannel(mcap::parseChannel(reader), pos);
          break;
        case mcap::Opcode::kChunkIndex: {
          mcap::ChunkIndex index = mcap::parseChunkIndex(reader);
          if (index.chunk_start_offset < data_start_ ||
              index.chunk_start_offset > footer.summary_start ||
              index.chunk_length > footer.summary_start - index.chunk_start_offset) {
            fail(pos, fmt::format("chunk index points at bytes {}+{}, outside the data section",
                                  index.chunk_start_offset, index.chunk_length));
          }
          chunk_indexes.push_back(std::move(index));
          break;
        }
        case mcap::Opcode::kStatistics:
          statistics_ = mcap::parseStatistics(reader);
          have_statistics = true;
          break;
        default:
          break;
      }
      pos += mcap::kRecordPrefix + length;
    }
    if (have_statistics) {
      // A summary without message indexes cannot show that chunks hold every message.
      std::uint64_t indexed = 0;
      for (const auto& index : chunk_indexes) {
        const std::uint64_t k = index.message_index_offsets.size();
        if (k == 0 || index.message_index_length < 15 * k) {
          return false;
        }
        // Each channel's index record: prefix 9 + channel 2 + array length 4 + 16 per message.
        indexed += (index.message_index_length - 15 * k) / 16;
      }
      if (indexed != statistics_.message_count) {
        return false;
      }
      for (const auto& [channel_id, count] : statistics_.channel_message_counts) {
        message_counts_[channel_id] = count;
      }
    } else if (chunk_indexes.empty()) {
      return false;
    }
    for (const auto& index : chunk_indexes) {
      Source source;
      source.offset = index.chunk_start_offset;
      source.start_time = index.message_start_time;
      for (const auto& [channel_id, offset] : index.message_index_offsets) {
        source.channels.insert(channel_id);
      }
      sources_.push_back(std::move(source));
    }
    chunk_count_ = chunk_indexes.size();
    return true;
  }

  void scanLinearly() {
    schemas_.clear();
    channels_.clear();
    sources_.clear();
    message_counts_.clear();
    chunk_count_ = 0;
    Crc32 data_crc;
    data_crc.update(mcap::kMagic, sizeof(mcap::kMagic));
    {
      const auto header = file_.readAt(sizeof(mcap::kMagic), data_start_ - sizeof(mcap::kMagic));
      data_crc.update(header.data(), header.size());
    }
    bool in_data = true;
    std::uint64_t pos = data_start_;
    while (true) {
      if (pos == size_) {
        fail(pos, "the file ends without a footer (truncated?)");
      }
      std::uint8_t opcode = 0;
      const std::uint64_t length = recordAt(pos, size_, opcode);
      const auto record = file_.readAt(pos, mcap::kRecordPrefix + length);
      ByteReader reader(record.data() + mcap::kRecordPrefix, length, at(pos));
      const auto type = static_cast<mcap::Opcode>(opcode);
      if (in_data && type != mcap::Opcode::kDataEnd && type != mcap::Opcode::kFooter) {
        data_crc.update(record.data(), record.size());
      }
      switch (type) {
        case mcap::Opcode::kSchema:
          if (in_data)
            addSchema(mcap::parseSchema(reader), pos);
          break;
        case mcap::Opcode::kChannel:
          if (in_data)
            addChannel(mcap::parseChannel(reader), pos);
          break;
        case mcap::Opcode::kMessage: {
          const mcap::MessageHeader message = mcap::parseMessageHeader(reader);
          requireChannel(message.channel_id, at(pos));
          ++message_counts_[message.channel_id];
          sources_.push_back({false, pos, message.log_time, {message.channel_id}});
          break;
        }
        case mcap::Opcode::kChunk: {
          Source source{true, pos, 0, {}};
          bool first = true;
          walkChunk(pos, record,
                    [&](std::uint8_t inner, ByteReader& content, const RecordLocation& where) {
                      if (inner == static_cast<std::uint8_t>(mcap::Opcode::kSchema)) {
                        addSchema(mcap::parseSchema(content), where);
                      } else if (inner == static_cast<std::uint8_t>(mcap::Opcode::kChannel)) {
                        addChannel(mcap::parseChannel(content), where);
                      } else if (inner == static_cast<std::uint8_t>(mcap::Opcode::kMessage)) {
                        const mcap::MessageHeader message = mcap::parseMessageHeader(content);
                        requireChannel(message.channel_id, where);
                        ++message_counts_[message.channel_id];
                        source.channels.insert(message.channel_id);
                        source.start_time = first ? message.log_time
                                                  : std::min(source.start_time, message.log_time);
                        first = false;
                      }
                    });
          if (!first) {
            sources_.push_back(std::move(source));
          }
          ++chunk_count_;
          break;
        }
        case mcap::Opcode::kDataEnd: {
          const std::uint32_t stored = mcap::parseDataEnd(reader);
          if (stored != 0 && stored != data_crc.value()) {
            fail(pos, fmt::format("data section CRC mismatch: DataEnd says {}, the bytes give {} "
                                  "(data damaged)",
                                  hex32(stored), hex32(data_crc.value())));
          }
          in_data = false;
          break;
        }
        case mcap::Opcode::kFooter: {
          const std::uint64_t end = pos + mcap::kRecordPrefix + length;
          if (size_ - end != sizeof(mcap::kMagic)) {
            fail(pos, fmt::format("footer is followed by {} bytes instead of the {}-byte magic",
                                  size_ - end, sizeof(mcap::kMagic)));
          }
          const auto magic = file_.readAt(end, sizeof(mcap::kMagic));
          if (std::memcmp(magic.data(), mcap::kMagic, sizeof(mcap::kMagic)) != 0) {
            fail(end, "the closing magic bytes are damaged");
          }
          return;
        }
        case mcap::Opcode::kHeader:
          fail(pos, "a second Header record");
        default:
          break;
      }
      pos += mcap::kRecordPrefix + length;
    }
  }

  using RecordVisitor = std::function<void(std::uint8_t, ByteReader&, const RecordLocation& where)>;

  // Decompresses the chunk record held in `record` (read from `offset`), checks its CRC and
  // calls `visit` for each record inside.
  void walkChunk(std::uint64_t offset, const std::vector<std::uint8_t>& record,
                 const RecordVisitor& visit) const {
    ByteReader reader(record.data() + mcap::kRecordPrefix, record.size() - mcap::kRecordPrefix,
                      at(offset));
    const mcap::Chunk chunk = mcap::parseChunk(reader);
    Compression compression = Compression::kNone;
    try {
      compression = compressionFromName(chunk.compression);
    } catch (const std::invalid_argument& e) {
      fail(offset, e.what());
    }
    if (chunk.uncompressed_size > kMaxChunkBytes) {
      fail(offset, fmt::format("chunk declares {} uncompressed bytes, more than the {} this "
                               "reader accepts (size field damaged?)",
                               chunk.uncompressed_size, kMaxChunkBytes));
    }
    std::vector<std::uint8_t> records;
    try {
      records = decompress(compression, chunk.records, chunk.records_size, chunk.uncompressed_size);
    } catch (const std::runtime_error& e) {
      fail(offset, fmt::format("chunk does not decompress: {}", e.what()));
    }
    if (chunk.uncompressed_crc != 0) {
      const std::uint32_t computed = Crc32::of(records.data(), records.size());
      if (computed != chunk.uncompressed_crc) {
        fail(offset, fmt::format("chunk CRC mismatch: the chunk says {}, its records give {} "
                                 "(chunk damaged)",
                                 hex32(chunk.uncompressed_crc), hex32(computed)));
      }
    }
    std::uint64_t pos = 0;
    while (pos < records.size()) {
      const RecordLocation where{&file_.path(), offset, true, pos};
      ByteReader prefix(records.data() + pos, records.size() - pos, where);
      const std::uint8_t opcode = prefix.u8();
      const std::uint64_t length = prefix.u64();
      if (length > prefix.remaining()) {
        failAt(where, fmt::format("{} record of {} bytes runs past the chunk's end ({} left)",
                                  mcap::opcodeName(opcode), length, prefix.remaining()));
      }
      ByteReader content(records.data() + pos + mcap::kRecordPrefix, length, where);
      visit(opcode, content, where);
      pos += mcap::kRecordPrefix + length;
    }
  }

  void load(const Source& source) {
    if (!source.channels.empty() &&
        std::none_of(source.channels.begin(), source.channels.end(),
                     [&](std::uint16_t id) { return allowed_.count(id) > 0; })) {
      return;
    }
    std::uint8_t opcode = 0;
    const std::uint64_t length = recordAt(source.offset, size_, opcode);
    const auto expected = source.is_chunk ? mcap::Opcode::kChunk : mcap::Opcode::kMessage;
    if (opcode != static_cast<std::uint8_t>(expected)) {
      fail(source.offset, fmt::format("expected a {} record here, found {} (opcode {}); index "
                                      "damaged",
                                      mcap::opcodeName(static_cast<std::uint8_t>(expected)),
                                      mcap::opcodeName(opcode), opcode));
    }
    const auto record = file_.readAt(source.offset, mcap::kRecordPrefix + length);
    auto take = [&](ByteReader& content, const RecordLocation& where, std::uint64_t position) {
      const mcap::MessageHeader header = mcap::parseMessageHeader(content);
      requireChannel(header.channel_id, where);
      if (allowed_.count(header.channel_id) == 0) {
        return;
      }
      PendingMessage message;
      message.log_time = header.log_time;
      message.source_offset = source.offset;
      message.position = position;
      message.channel_id = header.channel_id;
      message.publish_time = header.publish_time;
      const std::size_t size = content.remaining();
      const std::uint8_t* data = content.take(size, "message data");
      message.data.assign(data, data + size);
      pending_.push_back(std::move(message));
      std::push_heap(pending_.begin(), pending_.end(), later);
    };
    if (!source.is_chunk) {
      ByteReader content(record.data() + mcap::kRecordPrefix, length, at(source.offset));
      take(content, at(source.offset), 0);
      return;
    }
    walkChunk(source.offset, record,
              [&](std::uint8_t inner, ByteReader& content, const RecordLocation& where) {
                if (inner == static_cast<std::uint8_t>(mcap::Opcode::kMessage)) {
                  take(content, where, where.chunk_offset);
                }
              });
  }

  void addSchema(const mcap::Schema& schema, std::uint64_t offset) {
    addSchema(schema, at(offset));
  }
  void addSchema(const mcap::Schema& schema, const RecordLocation& where) {
    if (schema.id == 0) {
      return;  // id 0 is not a schema; readers skip such records
    }
    const auto [it, inserted] = schemas_.emplace(schema.id, schema);
    if (!inserted && (it->second.name != schema.name || it->second.data != schema.data ||
                      it->second.encoding != schema.encoding)) {
      failAt(where, fmt::format("schema {} is defined twice, differently ({} and {})", schema.id,
                                it->second.name, schema.name));
    }
  }

  void addChannel(const mcap::Channel& channel, std::uint64_t offset) {
    addChannel(channel, at(offset));
  }
  void addChannel(const mcap::Channel& channel, const RecordLocation& where) {
    if (channel.schema_id != 0 && schemas_.count(channel.schema_id) == 0) {
      failAt(where, fmt::format("channel {} ({}) refers to schema {}, which is not defined before "
                                "it",
                                channel.id, channel.topic, channel.schema_id));
    }
    const auto [it, inserted] = channels_.emplace(channel.id, channel);
    if (!inserted &&
        (it->second.topic != channel.topic || it->second.schema_id != channel.schema_id)) {
      failAt(where, fmt::format("channel {} is defined twice, differently ({} and {})", channel.id,
                                it->second.topic, channel.topic));
    }
  }

  void requireChannel(std::uint16_t channel_id, const RecordLocation& where) const {
    if (channels_.count(channel_id) == 0) {
      failAt(where,
             fmt::format("message on channel {}, which is not defined before it", channel_id));
    }
  }

  void buildTopics() {
    topics_.clear();
    for (const auto& [id, channel] : channels_) {
      // A structured binding cannot be captured before C++20 (clang refuses it).
      const std::string& channel_topic = channel.topic;
      auto it = std::find_if(topics_.begin(), topics_.end(),
                             [&](const TopicInfo& t) { return t.name == channel_topic; });
      if (it == topics_.end()) {
        TopicInfo topic;
        topic.name = channel.topic;
        topic.serialization_format = channel.message_encoding;
        if (const auto qos = channel.metadata.find("offered_qos_profiles");
            qos != channel.metadata.end()) {
          topic.offered_qos_profiles = qos->second;
        }
        topic.schema_encoding.clear();
        if (const auto schema = schemas_.find(channel.schema_id); schema != schemas_.end()) {
          topic.type = schema->second.name;
          topic.schema_encoding = schema->second.encoding;
          topic.schema_text = schema->second.data;
        }
        topics_.push_back(std::move(topic));
        it = topics_.end() - 1;
      }
      if (const auto count = message_counts_.find(id); count != message_counts_.end()) {
        it->message_count += count->second;
      }
    }
  }

  FileHandle file_;
  std::uint64_t size_{0};
  std::uint64_t data_start_{0};
  std::uint64_t footer_offset_{0};
  mcap::Header header_;
  mcap::Statistics statistics_;
  bool by_summary_{false};
  std::size_t chunk_count_{0};

  std::map<std::uint16_t, mcap::Schema> schemas_;
  std::map<std::uint16_t, mcap::Channel> channels_;
  std::map<std::uint16_t, std::uint64_t> message_counts_;
  std::vector<TopicInfo> topics_;
  std::vector<Source> sources_;  // by start time

  std::set<std::uint16_t> allowed_;
  std::size_t next_source_{0};
  std::vector<PendingMessage> pending_;  // heap, earliest on top
};

McapReader::McapReader(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}
McapReader::~McapReader() = default;

const std::string& McapReader::path() const {
  return impl_->path();
}
const std::vector<TopicInfo>& McapReader::topics() const {
  return impl_->topics();
}
void McapReader::setTopicFilter(const std::vector<std::string>& topic_names) {
  impl_->setTopicFilter(topic_names);
}
bool McapReader::readNext(BagMessage& message) {
  return impl_->readNext(message);
}
bool McapReader::openedBySummary() const {
  return impl_->openedBySummary();
}
const std::string& McapReader::profile() const {
  return impl_->profile();
}
std::size_t McapReader::chunkCount() const {
  return impl_->chunkCount();
}

}  // namespace bag_io
