// Geometry of one virtual camera: pose, fields of view, intrinsics, camera info and frustum.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <Eigen/Core>
#include <Eigen/Geometry>

#include <sensor_msgs/msg/camera_info.hpp>

#include "virtual_camera.hpp"

namespace lidar_perception {

// Everything derived from one camera's configuration and the lidar mount. The camera sits at the
// lidar origin, its z axis horizontal along the mid azimuth, x 90 degrees counter-clockwise from
// z, y along the lidar's up axis.
struct VirtualCameraGeometry {
  Eigen::Matrix4f cam2lidar;
  Eigen::Matrix4f lidar2cam;
  Eigen::Matrix4f cam2base;
  Eigen::Matrix4f base2cam;
  Eigen::Quaternionf cam2base_rotation;  // of cam2base's rotation block
  VirtualCameraParam param;
  sensor_msgs::msg::CameraInfo info;       // stamp left at zero
  pcl::PointCloud<pcl::PointXYZ> frustum;  // 8 corners in the camera frame, near then far
};

// Builds the geometry of the camera configured by `config` (angles in radians) mounted with
// `lidar2base`. Equal azimuth limits give a zero horizontal field and an infinite fx; the
// configuration is not checked.
VirtualCameraGeometry makeVirtualCameraGeometry(const VirtualCameraConfig& config,
                                                const Eigen::Matrix4f& lidar2base);

}  // namespace lidar_perception
