// Writes an MCAP file with the ROS 2 profile: "ros2msg" schemas, "cdr" messages, compressed
// chunks each followed by its message indexes, and a summary (schemas, channels, statistics,
// chunk indexes, summary offsets) with CRCs, so that indexed readers open it without a scan.
//
// Owns the open file. Schemas and channels are written to the data section when first used;
// messages go into the current chunk, which is compressed and written once it holds
// `chunk_size` bytes and at close(). Not thread-safe: one writer per thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bag_io/bag_message.hpp"
#include "bag_io/compression.hpp"

namespace bag_io {

struct McapWriterOptions {
  Compression compression{Compression::kZstd};
  // Uncompressed bytes of records after which a chunk is closed.
  std::size_t chunk_size{1024 * 1024};
  // Without the summary a reader has to scan the whole file; for tests of that path.
  bool write_summary{true};
  std::string profile{"ros2"};
  std::string library{"corvanta bag_io"};
};

class McapWriter {
 public:
  // Creates (truncates) `path` and writes the magic and header. Throws BagError if the file
  // cannot be created.
  explicit McapWriter(const std::string& path, McapWriterOptions options = {});
  // Closes the file if close() was not called; errors are swallowed there, so call close().
  ~McapWriter();
  McapWriter(const McapWriter&) = delete;
  McapWriter& operator=(const McapWriter&) = delete;

  // Registers a topic and returns its channel id. Topics of one type share a schema. A topic
  // registered twice must have the same type (std::invalid_argument otherwise); the first id is
  // returned.
  std::uint16_t addTopic(const TopicInfo& topic);

  // Appends one message on a registered channel. `publish_time` 0 means "same as log_time".
  void write(std::uint16_t channel_id, std::uint64_t log_time, std::uint64_t publish_time,
             const std::uint8_t* data, std::size_t size);

  // Appends one message, registering its topic on first use with a default QoS text.
  void write(const std::string& topic, const std::string& type, const std::string& schema_text,
             std::uint64_t log_time, const std::vector<std::uint8_t>& data);

  // Writes the last chunk, the summary and the footer, and closes the file. Throws BagError on
  // an I/O error. Further writes are an error (std::logic_error).
  void close();

  const std::string& path() const { return path_; }

 private:
  class Impl;
  std::string path_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bag_io
