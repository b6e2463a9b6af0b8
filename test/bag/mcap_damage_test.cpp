// Damaged MCAP files: each gives a BagError naming the file and the offset of the damaged record
// (found here by walking the file's records independently), and no damage crashes the reader.
#include <gtest/gtest.h>

#include <filesystem>

#include "bag_io/bag_error.hpp"
#include "bag_io/mcap_reader.hpp"
#include "bag_io/mcap_writer.hpp"
#include "bag_test_support.hpp"

namespace {

using bag_io::BagError;
using bag_io::Compression;
using bag_io::McapReader;
using bag_io::McapWriter;
using bag_io::McapWriterOptions;
using bag_test::Bytes;

constexpr std::uint8_t kChunk = 0x06;
constexpr std::uint8_t kFooter = 0x02;
constexpr std::uint8_t kDataEnd = 0x0F;
constexpr std::uint8_t kChannel = 0x04;
constexpr std::uint8_t kStatistics = 0x0B;

Bytes sampleFile(const std::string& path, Compression compression, bool summary,
                 int messages = 60) {
  McapWriterOptions options;
  options.compression = compression;
  options.chunk_size = 512;
  options.write_summary = summary;
  McapWriter writer(path, options);
  const std::uint16_t chatter = [&] {
    bag_io::TopicInfo info;
    info.name = "/chatter";
    info.type = "std_msgs/msg/String";
    info.schema_text = bag_test::kStringSchema;
    return writer.addTopic(info);
  }();
  for (int i = 0; i < messages; ++i) {
    const Bytes data = bag_test::stringCdr("message number " + std::to_string(i));
    writer.write(chatter, 1000 + i, 0, data.data(), data.size());
  }
  writer.close();
  return bag_test::readFile(path);
}

// Opens `path` and reads every message; returns the BagError's text, failing the test when
// there is none.
std::string errorOf(const std::string& path) {
  try {
    McapReader reader(path);
    bag_test::readAll(reader);
  } catch (const BagError& e) {
    return e.what();
  }
  ADD_FAILURE() << "no BagError for " << path;
  return {};
}

void expectNames(const std::string& error, const std::string& path, std::uint64_t offset,
                 const std::string& words) {
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_NE(error.find("at byte " + std::to_string(offset) + ":"), std::string::npos) << error;
  EXPECT_NE(error.find(words), std::string::npos) << error;
}

TEST(McapDamage, TruncatedChunk) {
  bag_test::ScratchDir dir;
  for (const Compression compression :
       {Compression::kNone, Compression::kZstd, Compression::kLz4}) {
    const std::string path = (dir / "cut.mcap").string();
    Bytes file = sampleFile(path, compression, true);
    const auto chunk = bag_test::firstRecord(file, kChunk);
    file.resize(chunk.offset + 9 + chunk.length / 2);
    bag_test::writeFile(path, file);
    expectNames(errorOf(path), path, chunk.offset, "runs past");
  }
}

TEST(McapDamage, FlippedChunkCrcByte) {
  bag_test::ScratchDir dir;
  for (const bool summary : {true, false}) {
    const std::string path = (dir / "crc.mcap").string();
    Bytes file = sampleFile(path, Compression::kZstd, summary);
    const auto chunk = bag_test::firstRecord(file, kChunk);
    // Chunk content: start time, end time, uncompressed size (8 bytes each), then the CRC.
    file[chunk.offset + 9 + 24] ^= 0x01;
    bag_test::writeFile(path, file);
    expectNames(errorOf(path), path, chunk.offset, "CRC mismatch");
  }
}

TEST(McapDamage, FlippedByteInsideUncompressedChunk) {
  bag_test::ScratchDir dir;
  const std::string path = (dir / "flip.mcap").string();
  Bytes file = sampleFile(path, Compression::kNone, true);
  const auto chunk = bag_test::firstRecord(file, kChunk);
  file[chunk.offset + 9 + chunk.length - 3] ^= 0x20;  // a character of the last message
  bag_test::writeFile(path, file);
  expectNames(errorOf(path), path, chunk.offset, "CRC mismatch");
}

TEST(McapDamage, MissingFooter) {
  bag_test::ScratchDir dir;
  const std::string path = (dir / "nofooter.mcap").string();
  Bytes file = sampleFile(path, Compression::kLz4, true);
  const auto footer = bag_test::firstRecord(file, kFooter);
  file.resize(footer.offset);
  bag_test::writeFile(path, file);
  expectNames(errorOf(path), path, footer.offset, "without a footer");
}

TEST(McapDamage, BadMagic) {
  bag_test::ScratchDir dir;
  const std::string path = (dir / "magic.mcap").string();
  Bytes file = sampleFile(path, Compression::kZstd, true);
  file[1] = 'X';
  bag_test::writeFile(path, file);
  expectNames(errorOf(path), path, 0, "not an MCAP file");
  bag_test::writeFile(path, Bytes{1, 2, 3});
  expectNames(errorOf(path), path, 0, "too short");
}

TEST(McapDamage, RecordLengthPastEndOfFile) {
  bag_test::ScratchDir dir;
  const std::string path = (dir / "length.mcap").string();
  Bytes file = sampleFile(path, Compression::kZstd, false);
  const auto channel = bag_test::firstRecord(file, kChannel);
  file[channel.offset + 8] = 0x7F;  // most significant byte of the length
  bag_test::writeFile(path, file);
  expectNames(errorOf(path), path, channel.offset, "runs past");
}

TEST(McapDamage, SummaryAndDataSectionCrcs) {
  bag_test::ScratchDir dir;
  const std::string path = (dir / "sums.mcap").string();
  {
    Bytes file = sampleFile(path, Compression::kZstd, true);
    const auto records = bag_test::topRecords(file);
    const auto data_end = bag_test::firstRecord(file, kDataEnd);
    const auto statistics = bag_test::firstRecord(file, kStatistics);
    file[statistics.offset + 9] ^= 0x04;  // message count
    bag_test::writeFile(path, file);
    const std::uint64_t summary_start = data_end.offset + 9 + data_end.length;
    expectNames(errorOf(path), path, summary_start, "summary CRC mismatch");
  }
  {
    // Without a summary the whole data section is read, and its CRC checked.
    Bytes file = sampleFile(path, Compression::kZstd, false);
    const auto channel = bag_test::firstRecord(file, kChannel);
    file[channel.offset + 9 + 4 + 4 + 1] ^= 0x01;  // a letter of the topic name
    bag_test::writeFile(path, file);
    const auto data_end = bag_test::firstRecord(file, kDataEnd);
    expectNames(errorOf(path), path, data_end.offset, "data section CRC mismatch");
  }
}

TEST(McapDamage, MissingFileNamesIt) {
  const std::string path = "/nonexistent/bag.mcap";
  try {
    McapReader reader(path);
    FAIL() << "opened a missing file";
  } catch (const BagError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

// Opens and reads a damaged copy written to a new file each time (rewriting one file in place
// makes ext4 flush it on every close, which slows the sweep below a hundredfold). Returns false
// for a BagError; any other exception fails the test.
bool readsCleanly(const bag_test::ScratchDir& dir, const Bytes& bytes, const std::string& what) {
  const auto path = dir / "sweep.mcap";
  std::filesystem::remove(path);
  bag_test::writeFile(path, bytes);
  try {
    McapReader reader(path.string());
    bag_test::readAll(reader);
    return true;
  } catch (const BagError&) {
    return false;
  } catch (const std::exception& e) {
    ADD_FAILURE() << what << ": " << e.what();
  }
  return false;
}

// Every truncation is an error, and every single-byte change either still reads or gives a
// BagError: never another exception, never a crash or a read out of bounds.
TEST(McapDamage, EveryTruncationAndByteFlipIsHandled) {
  bag_test::ScratchDir dir;
  for (const Compression compression :
       {Compression::kNone, Compression::kZstd, Compression::kLz4}) {
    for (const bool summary : {true, false}) {
      SCOPED_TRACE(std::string(bag_io::compressionName(compression)) +
                   (summary ? " with summary" : " without summary"));
      const Bytes original = sampleFile((dir / "original.mcap").string(), compression, summary, 12);
      for (std::size_t size = 0; size < original.size(); ++size) {
        EXPECT_FALSE(readsCleanly(dir, Bytes(original.begin(), original.begin() + size),
                                  "cut at " + std::to_string(size)))
            << "cut at " << size << " of " << original.size() << " bytes read without error";
      }
      for (std::size_t at = 0; at < original.size(); ++at) {
        Bytes damaged = original;
        damaged[at] ^= 0xFF;
        readsCleanly(dir, damaged, "byte " + std::to_string(at) + " flipped");
      }
    }
  }
}

}  // namespace
