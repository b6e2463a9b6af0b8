// Point dump files: numbering, the 16-byte little-endian records, directory creation, and
// failures that never stop the caller.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "point_dump.hpp"

namespace lidar_perception {
namespace {

namespace fs = std::filesystem;

class PointDumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "point_dump_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  static std::vector<uint8_t> readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
  }

  fs::path root_;
};

TEST_F(PointDumpTest, RecordsAreXyzAndZeroAsLittleEndianFloats) {
  const fs::path directory = root_ / "nested" / "dumps";
  PointDumpWriter writer(directory.string());
  pcl::PointCloud<pcl::PointXYZ> cloud;
  cloud.push_back({1.0f, -2.0f, 0.5f});
  cloud.push_back({0.0f, 3.0f, -1.0f});
  ASSERT_TRUE(writer.write(cloud));

  // IEEE 754 single: 1.0 = 0x3f800000, -2.0 = 0xc0000000, 0.5 = 0x3f000000, 3.0 = 0x40400000,
  // -1.0 = 0xbf800000; least significant byte first.
  const std::vector<uint8_t> expected{
      0x00, 0x00, 0x80, 0x3f, 0x00, 0x00, 0x00, 0xc0, 0x00, 0x00, 0x00, 0x3f, 0, 0, 0, 0,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x80, 0xbf, 0, 0, 0, 0};
  EXPECT_EQ(readBytes(directory / "0.bin"), expected);
}

TEST_F(PointDumpTest, FilesAreNumberedFromZeroAndAnEmptyCloudGivesAnEmptyFile) {
  PointDumpWriter writer(root_.string());
  pcl::PointCloud<pcl::PointXYZ> three;
  three.resize(3);
  EXPECT_EQ(writer.nextIndex(), 0);
  ASSERT_TRUE(writer.write(three));
  ASSERT_TRUE(writer.write(pcl::PointCloud<pcl::PointXYZ>()));
  EXPECT_EQ(fs::file_size(root_ / "0.bin"), 48u);
  EXPECT_EQ(fs::file_size(root_ / "1.bin"), 0u);
  EXPECT_EQ(writer.nextIndex(), 2);
}

TEST_F(PointDumpTest, AnExistingFileIsOverwritten) {
  {
    std::ofstream old(root_ / "0.bin", std::ios::binary);
    old << std::string(100, 'x');
  }
  PointDumpWriter writer(root_.string());
  pcl::PointCloud<pcl::PointXYZ> one;
  one.resize(1);
  ASSERT_TRUE(writer.write(one));
  EXPECT_EQ(fs::file_size(root_ / "0.bin"), 16u);
}

TEST_F(PointDumpTest, AnUnusableDirectoryFailsTheWriteButTheCounterMovesOn) {
  // A regular file where the directory should be.
  const fs::path blocker = root_ / "not_a_directory";
  { std::ofstream(blocker) << "x"; }
  PointDumpWriter writer((blocker / "dumps").string());
  pcl::PointCloud<pcl::PointXYZ> one;
  one.resize(1);
  EXPECT_FALSE(writer.write(one));
  EXPECT_FALSE(writer.write(one));
  EXPECT_EQ(writer.nextIndex(), 2);
}

}  // namespace
}  // namespace lidar_perception
