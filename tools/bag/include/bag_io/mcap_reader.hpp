// Reads an MCAP file holding ROS 2 messages.
//
// At open, a file with a summary that indexes every chunk is read through it (footer, summary
// CRC, schemas, channels, chunk indexes, statistics); any other file is scanned from start to end
// once, checking the data section CRC and every chunk's CRC. Chunks are then decompressed (zstd,
// lz4 or none) when the iteration reaches them, their CRCs checked, and messages delivered in
// log-time order. Damage gives BagError naming the file and the offset of the bad record; no read
// ever goes past the bytes the file holds.
//
// Owns the open file; not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bag_io/bag_reader.hpp"

namespace bag_io {

class McapReader : public BagReader {
 public:
  // Throws BagError if the file cannot be opened or its structure is damaged.
  explicit McapReader(const std::string& path);
  ~McapReader() override;

  const std::string& path() const override;
  const std::vector<TopicInfo>& topics() const override;
  void setTopicFilter(const std::vector<std::string>& topic_names) override;
  bool readNext(BagMessage& message) override;

  // True when the file was opened through its summary rather than by a scan.
  bool openedBySummary() const;
  const std::string& profile() const;
  // Number of chunks in the file.
  std::size_t chunkCount() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bag_io
