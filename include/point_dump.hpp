// Writes the detector's input clouds to numbered files for offline inspection.
#pragma once

#include <string>
#include <vector>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace lidar_perception {

// Each write goes to "<directory>/<n>.bin", n = 0, 1, 2, ... counting every attempt, successful
// or not. A file holds one 16-byte record per point, in cloud order: x, y, z and 0.0 as
// little-endian float32, no header; an existing file is overwritten. The directory is created
// (with its parents) on the first write that finds it missing.
//
// Dumping is a debugging aid and never fails the caller: write() reports a failure by its result
// and logs the first failure only. One writer per thread; not thread-safe.
class PointDumpWriter {
 public:
  explicit PointDumpWriter(std::string directory);

  // Writes `cloud` under the next number; false if the file could not be written completely.
  bool write(const pcl::PointCloud<pcl::PointXYZ>& cloud);

  const std::string& directory() const { return directory_; }
  // The number the next write will use.
  int nextIndex() const { return counter_; }

 private:
  bool writeFile(const std::string& path, const pcl::PointCloud<pcl::PointXYZ>& cloud,
                 std::string& error);

  std::string directory_;
  int counter_{0};
  bool failure_logged_{false};
  std::vector<char> bytes_;  // the file's contents, reused from write to write
};

}  // namespace lidar_perception
