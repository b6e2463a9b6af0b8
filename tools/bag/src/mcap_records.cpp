#include "mcap_records.hpp"

namespace bag_io::mcap {
namespace {

std::size_t begin(ByteWriter& out, Opcode opcode) {
  return out.beginRecord(static_cast<std::uint8_t>(opcode));
}

void u16u64Map(ByteWriter& out, const std::map<std::uint16_t, std::uint64_t>& map) {
  out.u32(static_cast<std::uint32_t>(map.size() * 10));
  for (const auto& [key, value] : map) {
    out.u16(key);
    out.u64(value);
  }
}

std::map<std::uint16_t, std::uint64_t> parseU16U64Map(ByteReader& in, const char* field) {
  const std::uint32_t length = in.u32();
  if (length % 10 != 0) {
    in.fail(std::string(field) + " map length " + std::to_string(length) +
            " is not a whole number of (uint16, uint64) entries");
  }
  std::map<std::uint16_t, std::uint64_t> map;
  for (std::uint32_t i = 0; i < length / 10; ++i) {
    const std::uint16_t key = in.u16();
    map[key] = in.u64();
  }
  return map;
}

}  // namespace

const char* opcodeName(std::uint8_t opcode) {
  switch (static_cast<Opcode>(opcode)) {
    case Opcode::kHeader:
      return "Header";
    case Opcode::kFooter:
      return "Footer";
    case Opcode::kSchema:
      return "Schema";
    case Opcode::kChannel:
      return "Channel";
    case Opcode::kMessage:
      return "Message";
    case Opcode::kChunk:
      return "Chunk";
    case Opcode::kMessageIndex:
      return "MessageIndex";
    case Opcode::kChunkIndex:
      return "ChunkIndex";
    case Opcode::kAttachment:
      return "Attachment";
    case Opcode::kAttachmentIndex:
      return "AttachmentIndex";
    case Opcode::kStatistics:
      return "Statistics";
    case Opcode::kMetadata:
      return "Metadata";
    case Opcode::kMetadataIndex:
      return "MetadataIndex";
    case Opcode::kSummaryOffset:
      return "SummaryOffset";
    case Opcode::kDataEnd:
      return "DataEnd";
  }
  return "unknown";
}

void encode(ByteWriter& out, const Header& header) {
  const std::size_t start = begin(out, Opcode::kHeader);
  out.string(header.profile);
  out.string(header.library);
  out.endRecord(start);
}

void encodeFooterWithoutCrc(ByteWriter& out, const Footer& footer) {
  out.u8(static_cast<std::uint8_t>(Opcode::kFooter));
  out.u64(kFooterContent);
  out.u64(footer.summary_start);
  out.u64(footer.summary_offset_start);
}

void encode(ByteWriter& out, const Schema& schema) {
  const std::size_t start = begin(out, Opcode::kSchema);
  out.u16(schema.id);
  out.string(schema.name);
  out.string(schema.encoding);
  out.string(schema.data);  // uint32 length-prefixed bytes, same layout as a string
  out.endRecord(start);
}

void encode(ByteWriter& out, const Channel& channel) {
  const std::size_t start = begin(out, Opcode::kChannel);
  out.u16(channel.id);
  out.u16(channel.schema_id);
  out.string(channel.topic);
  out.string(channel.message_encoding);
  out.stringMap(channel.metadata);
  out.endRecord(start);
}

void encodeMessage(ByteWriter& out, const MessageHeader& header, const std::uint8_t* data,
                   std::size_t size) {
  const std::size_t start = begin(out, Opcode::kMessage);
  out.u16(header.channel_id);
  out.u32(header.sequence);
  out.u64(header.log_time);
  out.u64(header.publish_time);
  out.bytes(data, size);
  out.endRecord(start);
}

void encodeChunk(ByteWriter& out, const Chunk& chunk) {
  const std::size_t start = begin(out, Opcode::kChunk);
  out.u64(chunk.message_start_time);
  out.u64(chunk.message_end_time);
  out.u64(chunk.uncompressed_size);
  out.u32(chunk.uncompressed_crc);
  out.string(chunk.compression);
  out.u64(chunk.records_size);
  out.bytes(chunk.records, chunk.records_size);
  out.endRecord(start);
}

void encode(ByteWriter& out, const MessageIndex& index) {
  const std::size_t start = begin(out, Opcode::kMessageIndex);
  out.u16(index.channel_id);
  out.u32(static_cast<std::uint32_t>(index.records.size() * 16));
  for (const auto& [log_time, offset] : index.records) {
    out.u64(log_time);
    out.u64(offset);
  }
  out.endRecord(start);
}

void encode(ByteWriter& out, const ChunkIndex& index) {
  const std::size_t start = begin(out, Opcode::kChunkIndex);
  out.u64(index.message_start_time);
  out.u64(index.message_end_time);
  out.u64(index.chunk_start_offset);
  out.u64(index.chunk_length);
  u16u64Map(out, index.message_index_offsets);
  out.u64(index.message_index_length);
  out.string(index.compression);
  out.u64(index.compressed_size);
  out.u64(index.uncompressed_size);
  out.endRecord(start);
}

void encode(ByteWriter& out, const Statistics& statistics) {
  const std::size_t start = begin(out, Opcode::kStatistics);
  out.u64(statistics.message_count);
  out.u16(statistics.schema_count);
  out.u32(statistics.channel_count);
  out.u32(statistics.attachment_count);
  out.u32(statistics.metadata_count);
  out.u32(statistics.chunk_count);
  out.u64(statistics.message_start_time);
  out.u64(statistics.message_end_time);
  u16u64Map(out, statistics.channel_message_counts);
  out.endRecord(start);
}

void encode(ByteWriter& out, const SummaryOffset& offset) {
  const std::size_t start = begin(out, Opcode::kSummaryOffset);
  out.u8(offset.group_opcode);
  out.u64(offset.group_start);
  out.u64(offset.group_length);
  out.endRecord(start);
}

void encodeDataEnd(ByteWriter& out, std::uint32_t data_section_crc) {
  const std::size_t start = begin(out, Opcode::kDataEnd);
  out.u32(data_section_crc);
  out.endRecord(start);
}

Header parseHeader(ByteReader& in) {
  Header header;
  header.profile = in.string("profile");
  header.library = in.string("library");
  return header;
}

Footer parseFooter(ByteReader& in) {
  Footer footer;
  footer.summary_start = in.u64();
  footer.summary_offset_start = in.u64();
  footer.summary_crc = in.u32();
  return footer;
}

Schema parseSchema(ByteReader& in) {
  Schema schema;
  schema.id = in.u16();
  schema.name = in.string("schema name");
  schema.encoding = in.string("schema encoding");
  schema.data = in.string("schema data");
  return schema;
}

Channel parseChannel(ByteReader& in) {
  Channel channel;
  channel.id = in.u16();
  channel.schema_id = in.u16();
  channel.topic = in.string("topic");
  channel.message_encoding = in.string("message encoding");
  channel.metadata = in.stringMap("channel metadata");
  return channel;
}

MessageHeader parseMessageHeader(ByteReader& in) {
  MessageHeader header;
  header.channel_id = in.u16();
  header.sequence = in.u32();
  header.log_time = in.u64();
  header.publish_time = in.u64();
  return header;
}

Chunk parseChunk(ByteReader& in) {
  Chunk chunk;
  chunk.message_start_time = in.u64();
  chunk.message_end_time = in.u64();
  chunk.uncompressed_size = in.u64();
  chunk.uncompressed_crc = in.u32();
  chunk.compression = in.string("compression");
  chunk.records_size = in.u64();
  chunk.records = in.take(chunk.records_size, "chunk records");
  return chunk;
}

ChunkIndex parseChunkIndex(ByteReader& in) {
  ChunkIndex index;
  index.message_start_time = in.u64();
  index.message_end_time = in.u64();
  index.chunk_start_offset = in.u64();
  index.chunk_length = in.u64();
  index.message_index_offsets = parseU16U64Map(in, "message index offsets");
  index.message_index_length = in.u64();
  index.compression = in.string("compression");
  index.compressed_size = in.u64();
  index.uncompressed_size = in.u64();
  return index;
}

Statistics parseStatistics(ByteReader& in) {
  Statistics statistics;
  statistics.message_count = in.u64();
  statistics.schema_count = in.u16();
  statistics.channel_count = in.u32();
  statistics.attachment_count = in.u32();
  statistics.metadata_count = in.u32();
  statistics.chunk_count = in.u32();
  statistics.message_start_time = in.u64();
  statistics.message_end_time = in.u64();
  statistics.channel_message_counts = parseU16U64Map(in, "channel message counts");
  return statistics;
}

std::uint32_t parseDataEnd(ByteReader& in) {
  return in.u32();
}

}  // namespace bag_io::mcap
