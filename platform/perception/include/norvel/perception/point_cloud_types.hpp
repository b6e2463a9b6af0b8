// Cloud types shared by the perception library's interfaces.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace norvel {
namespace perception {

// A cloud of x, y, z points in the robot's base frame, shared between pipeline stages.
using PointCloud = pcl::PointCloud<pcl::PointXYZ>;
using PointCloudPtr = PointCloud::Ptr;
using PointCloudConstPtr = PointCloud::ConstPtr;

}  // namespace perception
}  // namespace norvel
