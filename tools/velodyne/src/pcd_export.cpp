#include "velodyne/pcd_export.hpp"

#include <fmt/format.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/exceptions.h>
#include <pcl/io/pcd_io.h>

#include <cstdint>
#include <stdexcept>

namespace velodyne {

void writePcd(const sensor_msgs::msg::PointCloud2& cloud, const std::string& path, bool ascii) {
  const std::uint64_t needed = std::uint64_t{cloud.row_step} * cloud.height;
  if (std::uint64_t{cloud.point_step} * cloud.width > cloud.row_step ||
      cloud.data.size() < needed) {
    throw std::invalid_argument(fmt::format(
        "cloud layout does not fit its data: width {} x point_step {} against "
        "row_step {}, {} rows need {} bytes, data holds {}",
        cloud.width, cloud.point_step, cloud.row_step, cloud.height, needed, cloud.data.size()));
  }
  pcl::PCLPointCloud2 out;
  out.header.frame_id = cloud.header.frame_id;
  out.header.stamp = static_cast<std::uint64_t>(cloud.header.stamp.sec) * 1'000'000ULL +
                     cloud.header.stamp.nanosec / 1000;  // PCL stamps are microseconds
  out.height = cloud.height;
  out.width = cloud.width;
  out.is_bigendian = cloud.is_bigendian;
  out.point_step = cloud.point_step;
  out.row_step = cloud.row_step;
  out.is_dense = cloud.is_dense;
  for (const auto& f : cloud.fields) {
    pcl::PCLPointField pf;
    pf.name = f.name;
    pf.offset = f.offset;
    // sensor_msgs and PCL number the point field datatypes alike (INT8 = 1 .. FLOAT64 = 8).
    pf.datatype = f.datatype;
    pf.count = f.count;
    out.fields.push_back(pf);
  }
  out.data = cloud.data;
  pcl::PCDWriter writer;
  int status = -1;
  try {
    status =
        writer.write(path, out, Eigen::Vector4f::Zero(), Eigen::Quaternionf::Identity(), !ascii);
  } catch (const pcl::PCLException& e) {
    throw std::runtime_error(
        fmt::format("cannot write PCD file '{}': {}", path, e.detailedMessage()));
  }
  if (status != 0) {
    throw std::runtime_error(fmt::format("cannot write PCD file '{}'", path));
  }
}

}  // namespace velodyne
