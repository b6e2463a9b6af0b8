// The node's PointCloud2 intake: any layout and data either is refused with a reason or converts
// to points read from inside the message's data.
#include <pcl/console/print.h>

#include <cstddef>
#include <cstdint>

#include "cloud_intake.hpp"
#include "fuzz_support.hpp"

// PCL names every field it cannot match on the console; quiet for the fuzzing's speed.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const sensor_msgs::msg::PointCloud2 msg = fuzz_support::cloudFromInput(input);
  pcl::PointCloud<pcl::PointXYZ> cloud;
  const std::string malformed = lidar_perception::convertLidarCloud(msg, cloud);
  if (malformed.empty() && lidar_perception::describeMalformedCloud(msg) != malformed) {
    __builtin_trap();
  }
  return 0;
}
