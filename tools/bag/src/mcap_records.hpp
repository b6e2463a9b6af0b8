// MCAP records: opcodes, the record structs bag_io uses, and their encoding and parsing.
//
// Encoders append a whole record (opcode, content length, content) to a ByteWriter. Parsers
// take a ByteReader over one record's content and ignore fields added after the ones known
// here, as the format allows; a record shorter than its known fields is an error.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "byte_reader.hpp"
#include "byte_writer.hpp"

namespace bag_io::mcap {

enum class Opcode : std::uint8_t {
  kHeader = 0x01,
  kFooter = 0x02,
  kSchema = 0x03,
  kChannel = 0x04,
  kMessage = 0x05,
  kChunk = 0x06,
  kMessageIndex = 0x07,
  kChunkIndex = 0x08,
  kAttachment = 0x09,
  kAttachmentIndex = 0x0A,
  kStatistics = 0x0B,
  kMetadata = 0x0C,
  kMetadataIndex = 0x0D,
  kSummaryOffset = 0x0E,
  kDataEnd = 0x0F,
};

constexpr std::uint8_t kMagic[8] = {0x89, 'M', 'C', 'A', 'P', '0', '\r', '\n'};
constexpr std::size_t kRecordPrefix = 9;    // opcode + uint64 content length
constexpr std::size_t kFooterContent = 20;  // two uint64 offsets + uint32 CRC

const char* opcodeName(std::uint8_t opcode);

struct Header {
  std::string profile;
  std::string library;
};

struct Footer {
  std::uint64_t summary_start{0};
  std::uint64_t summary_offset_start{0};
  std::uint32_t summary_crc{0};
};

struct Schema {
  std::uint16_t id{0};
  std::string name;
  std::string encoding;
  std::string data;
};

struct Channel {
  std::uint16_t id{0};
  std::uint16_t schema_id{0};
  std::string topic;
  std::string message_encoding;
  std::map<std::string, std::string> metadata;
};

struct MessageHeader {
  std::uint16_t channel_id{0};
  std::uint32_t sequence{0};
  std::uint64_t log_time{0};
  std::uint64_t publish_time{0};
};
constexpr std::size_t kMessageHeaderSize = 22;

// A chunk's fields; `records` points into the parsed record's bytes.
struct Chunk {
  std::uint64_t message_start_time{0};
  std::uint64_t message_end_time{0};
  std::uint64_t uncompressed_size{0};
  std::uint32_t uncompressed_crc{0};
  std::string compression;
  const std::uint8_t* records{nullptr};
  std::uint64_t records_size{0};
};

struct MessageIndex {
  std::uint16_t channel_id{0};
  std::vector<std::pair<std::uint64_t, std::uint64_t>> records;  // log_time, offset in chunk
};

struct ChunkIndex {
  std::uint64_t message_start_time{0};
  std::uint64_t message_end_time{0};
  std::uint64_t chunk_start_offset{0};
  std::uint64_t chunk_length{0};
  std::map<std::uint16_t, std::uint64_t> message_index_offsets;
  std::uint64_t message_index_length{0};
  std::string compression;
  std::uint64_t compressed_size{0};
  std::uint64_t uncompressed_size{0};
};

struct Statistics {
  std::uint64_t message_count{0};
  std::uint16_t schema_count{0};
  std::uint32_t channel_count{0};
  std::uint32_t attachment_count{0};
  std::uint32_t metadata_count{0};
  std::uint32_t chunk_count{0};
  std::uint64_t message_start_time{0};
  std::uint64_t message_end_time{0};
  std::map<std::uint16_t, std::uint64_t> channel_message_counts;
};

struct SummaryOffset {
  std::uint8_t group_opcode{0};
  std::uint64_t group_start{0};
  std::uint64_t group_length{0};
};

void encode(ByteWriter& out, const Header& header);
// Writes the footer's opcode, length and offsets, not its CRC: the CRC covers those bytes.
void encodeFooterWithoutCrc(ByteWriter& out, const Footer& footer);
void encode(ByteWriter& out, const Schema& schema);
void encode(ByteWriter& out, const Channel& channel);
void encodeMessage(ByteWriter& out, const MessageHeader& header, const std::uint8_t* data,
                   std::size_t size);
void encodeChunk(ByteWriter& out, const Chunk& chunk);
void encode(ByteWriter& out, const MessageIndex& index);
void encode(ByteWriter& out, const ChunkIndex& index);
void encode(ByteWriter& out, const Statistics& statistics);
void encode(ByteWriter& out, const SummaryOffset& offset);
void encodeDataEnd(ByteWriter& out, std::uint32_t data_section_crc);

Header parseHeader(ByteReader& in);
Footer parseFooter(ByteReader& in);
Schema parseSchema(ByteReader& in);
Channel parseChannel(ByteReader& in);
// Leaves `in` at the message data, which runs to the end of the record.
MessageHeader parseMessageHeader(ByteReader& in);
Chunk parseChunk(ByteReader& in);
ChunkIndex parseChunkIndex(ByteReader& in);
Statistics parseStatistics(ByteReader& in);
std::uint32_t parseDataEnd(ByteReader& in);

}  // namespace bag_io::mcap
