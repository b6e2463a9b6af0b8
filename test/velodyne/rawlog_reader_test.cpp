// Finding packets in files: plain and gzip-compressed, damaged runs, missing and empty files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "packet_builder.hpp"
#include "velodyne/packet_error.hpp"
#include "velodyne/rawlog_reader.hpp"

namespace {

using velodyne::readRawlogPackets;
using velodyne_test::PacketBuilder;
using Bytes = std::vector<std::uint8_t>;

// A file in the test's temporary directory, removed when the test ends.
class TempFile {
 public:
  explicit TempFile(const std::string& name) : path_(::testing::TempDir() + "velodyne_" + name) {}
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  void write(const Bytes& bytes) const {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }
  void writeGzip(const Bytes& bytes) const {
    gzFile out = gzopen(path_.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(gzwrite(out, bytes.data(), static_cast<unsigned>(bytes.size())),
              static_cast<int>(bytes.size()));
    EXPECT_EQ(gzclose(out), Z_OK);
  }

 private:
  std::string path_;
};

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) {
    all.insert(all.end(), p.begin(), p.end());
  }
  return all;
}

// A header with a stray flag in it, as a record header might hold by chance.
const Bytes kHeader = {0x98, 'r', 'a', 'w', 0xFF, 0xEE, 0x01, 0x02, 0x03};

TEST(RawlogReader, FindsPacketsInGzipAndPlainFiles) {
  const Bytes p0 = PacketBuilder(0, 40).setReturn(0, 0, 100, 1).bytes();
  const Bytes p1 = PacketBuilder(480, 40).setReturn(3, 7, 200, 2).bytes();
  const Bytes p2 = PacketBuilder(960, 40).bytes();
  const Bytes trailer(600, 0x55);
  const Bytes content = concat({kHeader, p0, p1, trailer, p2, trailer});
  for (const bool gzip : {true, false}) {
    SCOPED_TRACE(gzip ? "gzip" : "plain");
    TempFile file(gzip ? "packets.rawlog.gz" : "packets.rawlog");
    if (gzip) {
      file.writeGzip(content);
    } else {
      file.write(content);
    }
    const velodyne::FoundPackets found = readRawlogPackets(file.path());
    ASSERT_EQ(found.packets.size(), 3U);
    EXPECT_EQ(found.packets[0], p0);
    EXPECT_EQ(found.packets[1], p1);
    EXPECT_EQ(found.packets[2], p2);
    const std::vector<std::size_t> offsets = {9, 9 + 1206, 9 + 2 * 1206 + 600};
    EXPECT_EQ(found.offsets, offsets);
  }
}

TEST(RawlogReader, DamagedPacketsInARunReachTheDecoder) {
  // The second packet lost block 4's flag; the third is cut short by the end of the file.
  const Bytes p1 = PacketBuilder(480, 40).setByte(400, 0).bytes();
  Bytes p2 = PacketBuilder(960, 40).bytes();
  p2.resize(700);
  const velodyne::FoundPackets found =
      velodyne::findVlp16Packets(concat({PacketBuilder(0, 40).bytes(), p1, p2}));
  ASSERT_EQ(found.packets.size(), 3U);
  EXPECT_EQ(found.packets[2].size(), 700U);
  try {
    velodyne::decodeSweep(found.packets);
    FAIL() << "damaged run decoded";
  } catch (const velodyne::MalformedPacketError& e) {
    EXPECT_EQ(e.packetIndex(), 1U);
    EXPECT_EQ(e.byteOffset(), 400U);
  }
  try {
    velodyne::decodeSweep({found.packets[0], found.packets[2]});
    FAIL() << "truncated packet decoded";
  } catch (const velodyne::MalformedPacketError& e) {
    EXPECT_EQ(e.packetIndex(), 1U);
    EXPECT_EQ(e.byteOffset(), 700U);
  }
}

TEST(RawlogReader, FilesWithoutPacketsAreRejectedByName) {
  const auto expectError = [](const std::string& path, const std::string& says) {
    try {
      readRawlogPackets(path);
      ADD_FAILURE() << path << " accepted";
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(path), std::string::npos) << what;
      EXPECT_NE(what.find(says), std::string::npos) << what;
    }
  };
  expectError(::testing::TempDir() + "velodyne_missing.rawlog", "cannot open");
  {
    // 11 flags 100 bytes apart are not a packet.
    Bytes almost = PacketBuilder(0, 40).bytes();
    almost[1100] = 0;
    TempFile file("no_packets.rawlog");
    file.writeGzip(concat({kHeader, almost}));
    expectError(file.path(), "no VLP-16 data packets");
  }
  {
    TempFile file("empty.rawlog");
    file.write({});
    expectError(file.path(), "no VLP-16 data packets");
  }
  {
    // A gzip file cut in half.
    TempFile whole("whole.rawlog");
    whole.writeGzip(concat({PacketBuilder(0, 40).bytes(), PacketBuilder(480, 40).bytes()}));
    std::ifstream in(whole.path(), std::ios::binary);
    Bytes compressed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    compressed.resize(compressed.size() / 2);
    TempFile cut("cut.rawlog");
    cut.write(compressed);
    expectError(cut.path(), "ends early");
  }
}

}  // namespace
