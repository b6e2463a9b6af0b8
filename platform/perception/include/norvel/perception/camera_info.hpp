// Description of one virtual camera, as the dynamic cloud detector needs it.
#pragma once

#include <Eigen/Core>

#include <cstdint>

namespace norvel {
namespace perception {

// One virtual pinhole camera: image size, intrinsics and pose on the robot. Filled by the node
// once per camera, in this field order.
struct CameraInfo {
  // Image size in pixels; both must be > 0.
  std::int32_t width{0};
  std::int32_t height{0};
  // Intrinsic matrix, rows (fx 0 cx), (0 fy cy), (0 0 1), pixels. The camera looks along its +z.
  Eigen::Matrix3f intrinsics{Eigen::Matrix3f::Identity()};
  // Camera-to-base transform: maps points given in the camera frame into the robot base frame.
  Eigen::Matrix4f camera_to_base{Eigen::Matrix4f::Identity()};
  // Index of the virtual camera, used in log lines.
  std::int32_t camera_index{0};
};

}  // namespace perception
}  // namespace norvel
