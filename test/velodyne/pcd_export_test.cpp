// PCD files written from a sweep's message, read back with PCL's own reader.
#include <gtest/gtest.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>
#include <pcl/point_types.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "velodyne/cloud_message.hpp"
#include "velodyne/pcd_export.hpp"

namespace {

const std::vector<velodyne::Vlp16Point> kPoints = {{1.5F, -2.25F, 3.0F, 17.0F, 4, 0.25F},
                                                   {-0.5F, 8.0F, -2.0F, 255.0F, 15, 0.0625F}};

TEST(PcdExport, PclReadsBackEveryField) {
  for (const bool ascii : {false, true}) {
    SCOPED_TRACE(ascii ? "ascii" : "binary");
    const std::string path = ::testing::TempDir() + "velodyne_sweep.pcd";
    velodyne::writePcd(velodyne::toPointCloud2(kPoints, 0), path, ascii);

    pcl::PointCloud<pcl::PointXYZI> xyzi;
    ASSERT_EQ(pcl::io::loadPCDFile(path, xyzi), 0);
    ASSERT_EQ(xyzi.size(), 2U);
    EXPECT_EQ(xyzi[0].x, 1.5F);
    EXPECT_EQ(xyzi[0].y, -2.25F);
    EXPECT_EQ(xyzi[0].z, 3.0F);
    EXPECT_EQ(xyzi[0].intensity, 17.0F);
    EXPECT_EQ(xyzi[1].y, 8.0F);
    EXPECT_EQ(xyzi[1].intensity, 255.0F);

    pcl::PCLPointCloud2 raw;
    ASSERT_EQ(pcl::io::loadPCDFile(path, raw), 0);
    std::vector<std::string> names;
    for (const auto& f : raw.fields) {
      names.push_back(f.name);
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "ring"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "time"), names.end());
    std::remove(path.c_str());
  }
}

TEST(PcdExport, ErrorsNameTheProblem) {
  const std::string path = ::testing::TempDir() + "velodyne_no_such_dir/sweep.pcd";
  try {
    velodyne::writePcd(velodyne::toPointCloud2(kPoints, 0), path);
    FAIL() << "wrote into a missing directory";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  auto cloud = velodyne::toPointCloud2(kPoints, 0);
  cloud.data.resize(30);
  EXPECT_THROW(velodyne::writePcd(cloud, ::testing::TempDir() + "velodyne_bad.pcd"),
               std::invalid_argument);
}

}  // namespace
