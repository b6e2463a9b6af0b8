// Conversions between ROS messages and PCL types: headers (PCL stamps are microseconds),
// point fields and PointCloud2 <-> PCLPointCloud2. PCL's own fromPCLPointCloud2 and
// toPCLPointCloud2 do the field work for typed clouds.
#pragma once

#include <pcl/PCLHeader.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/PCLPointField.h>
#include <pcl/conversions.h>
#include <pcl/point_cloud.h>

#include <sensor_msgs/msg/point_cloud2.hpp>
#include <sensor_msgs/msg/point_field.hpp>
#include <std_msgs/msg/header.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "rclcpp/time.hpp"

namespace pcl_conversions {

// ---- time stamps ----

inline void fromPCL(const std::uint64_t& pcl_stamp, rclcpp::Time& stamp) {
  stamp = rclcpp::Time(static_cast<int64_t>(pcl_stamp * 1000ull));
}

inline void toPCL(const rclcpp::Time& stamp, std::uint64_t& pcl_stamp) {
  pcl_stamp = static_cast<std::uint64_t>(stamp.nanoseconds()) / 1000ull;
}

inline rclcpp::Time fromPCL(const std::uint64_t& pcl_stamp) {
  rclcpp::Time stamp;
  fromPCL(pcl_stamp, stamp);
  return stamp;
}

inline std::uint64_t toPCL(const rclcpp::Time& stamp) {
  std::uint64_t pcl_stamp = 0;
  toPCL(stamp, pcl_stamp);
  return pcl_stamp;
}

// ---- headers ----

inline void fromPCL(const pcl::PCLHeader& pcl_header, std_msgs::msg::Header& header) {
  header.stamp.sec = static_cast<int32_t>(pcl_header.stamp / 1000000ull);
  header.stamp.nanosec = static_cast<uint32_t>((pcl_header.stamp % 1000000ull) * 1000ull);
  header.frame_id = pcl_header.frame_id;
}

// The PCL stamp is the message stamp in nanoseconds divided by 1000; seq is 0.
inline void toPCL(const std_msgs::msg::Header& header, pcl::PCLHeader& pcl_header) {
  const int64_t nanoseconds = static_cast<int64_t>(header.stamp.sec) * 1000000000LL +
                              static_cast<int64_t>(header.stamp.nanosec);
  pcl_header.stamp = static_cast<std::uint64_t>(nanoseconds) / 1000ull;
  pcl_header.seq = 0;
  pcl_header.frame_id = header.frame_id;
}

inline std_msgs::msg::Header fromPCL(const pcl::PCLHeader& pcl_header) {
  std_msgs::msg::Header header;
  fromPCL(pcl_header, header);
  return header;
}

inline pcl::PCLHeader toPCL(const std_msgs::msg::Header& header) {
  pcl::PCLHeader pcl_header;
  toPCL(header, pcl_header);
  return pcl_header;
}

// ---- point fields ----

inline void fromPCL(const pcl::PCLPointField& pcl_pf, sensor_msgs::msg::PointField& pf) {
  pf.name = pcl_pf.name;
  pf.offset = pcl_pf.offset;
  pf.datatype = pcl_pf.datatype;
  pf.count = pcl_pf.count;
}

inline void fromPCL(const std::vector<pcl::PCLPointField>& pcl_pfs,
                    std::vector<sensor_msgs::msg::PointField>& pfs) {
  pfs.resize(pcl_pfs.size());
  for (std::size_t i = 0; i < pcl_pfs.size(); ++i) {
    fromPCL(pcl_pfs[i], pfs[i]);
  }
}

inline void toPCL(const sensor_msgs::msg::PointField& pf, pcl::PCLPointField& pcl_pf) {
  pcl_pf.name = pf.name;
  pcl_pf.offset = pf.offset;
  pcl_pf.datatype = pf.datatype;
  pcl_pf.count = pf.count;
}

inline void toPCL(const std::vector<sensor_msgs::msg::PointField>& pfs,
                  std::vector<pcl::PCLPointField>& pcl_pfs) {
  pcl_pfs.resize(pfs.size());
  for (std::size_t i = 0; i < pfs.size(); ++i) {
    toPCL(pfs[i], pcl_pfs[i]);
  }
}

// ---- clouds ----

inline void copyPCLPointCloud2MetaData(const pcl::PCLPointCloud2& pcl_pc2,
                                       sensor_msgs::msg::PointCloud2& pc2) {
  fromPCL(pcl_pc2.header, pc2.header);
  pc2.height = pcl_pc2.height;
  pc2.width = pcl_pc2.width;
  fromPCL(pcl_pc2.fields, pc2.fields);
  pc2.is_bigendian = pcl_pc2.is_bigendian;
  pc2.point_step = pcl_pc2.point_step;
  pc2.row_step = pcl_pc2.row_step;
  pc2.is_dense = pcl_pc2.is_dense;
}

inline void fromPCL(const pcl::PCLPointCloud2& pcl_pc2, sensor_msgs::msg::PointCloud2& pc2) {
  copyPCLPointCloud2MetaData(pcl_pc2, pc2);
  pc2.data = pcl_pc2.data;
}

inline void moveFromPCL(pcl::PCLPointCloud2& pcl_pc2, sensor_msgs::msg::PointCloud2& pc2) {
  copyPCLPointCloud2MetaData(pcl_pc2, pc2);
  pc2.data.swap(pcl_pc2.data);
}

inline void copyPointCloud2MetaData(const sensor_msgs::msg::PointCloud2& pc2,
                                    pcl::PCLPointCloud2& pcl_pc2) {
  toPCL(pc2.header, pcl_pc2.header);
  pcl_pc2.height = pc2.height;
  pcl_pc2.width = pc2.width;
  toPCL(pc2.fields, pcl_pc2.fields);
  pcl_pc2.is_bigendian = pc2.is_bigendian;
  pcl_pc2.point_step = pc2.point_step;
  pcl_pc2.row_step = pc2.row_step;
  pcl_pc2.is_dense = pc2.is_dense;
}

inline void toPCL(const sensor_msgs::msg::PointCloud2& pc2, pcl::PCLPointCloud2& pcl_pc2) {
  copyPointCloud2MetaData(pc2, pcl_pc2);
  pcl_pc2.data = pc2.data;
}

inline void moveToPCL(sensor_msgs::msg::PointCloud2& pc2, pcl::PCLPointCloud2& pcl_pc2) {
  copyPointCloud2MetaData(pc2, pcl_pc2);
  pcl_pc2.data.swap(pc2.data);
}

}  // namespace pcl_conversions

namespace pcl {

// Typed cloud to message, through PCL's toPCLPointCloud2.
template <typename T>
void toROSMsg(const pcl::PointCloud<T>& pcl_cloud, sensor_msgs::msg::PointCloud2& cloud) {
  pcl::PCLPointCloud2 pcl_pc2;
  pcl::toPCLPointCloud2(pcl_cloud, pcl_pc2);
  pcl_conversions::moveFromPCL(pcl_pc2, cloud);
}

// Message to typed cloud, through PCL's fromPCLPointCloud2. PCL copies point_step bytes per
// point without looking at the buffer size, so a message whose data is shorter than its
// declared layout is refused here with std::invalid_argument instead of being read past
// its end.
template <typename T>
void fromROSMsg(const sensor_msgs::msg::PointCloud2& cloud, pcl::PointCloud<T>& pcl_cloud) {
  const std::uint64_t rows_needed = static_cast<std::uint64_t>(cloud.row_step) * cloud.height;
  const std::uint64_t row_payload = static_cast<std::uint64_t>(cloud.point_step) * cloud.width;
  if (row_payload > cloud.row_step || cloud.data.size() < rows_needed) {
    throw std::invalid_argument(
        "PointCloud2 layout does not fit its data: width " + std::to_string(cloud.width) +
        " x point_step " + std::to_string(cloud.point_step) + " against row_step " +
        std::to_string(cloud.row_step) + ", row_step x height " + std::to_string(rows_needed) +
        " against " + std::to_string(cloud.data.size()) + " data bytes");
  }
  pcl::PCLPointCloud2 pcl_pc2;
  pcl_conversions::toPCL(cloud, pcl_pc2);
  pcl::fromPCLPointCloud2(pcl_pc2, pcl_cloud);
}

}  // namespace pcl
