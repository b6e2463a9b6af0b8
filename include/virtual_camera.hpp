// Per-virtual-camera records of the lidar detection node.
#pragma once

#include <cstdint>
#include <string>

namespace lidar_perception {

// Parameters of one virtual camera, read once at configuration. The four angles are entered in
// degrees and converted to radians after every camera has been read; cone_theta_threshold stays
// in degrees.
struct VirtualCameraConfig {
  float vertical_up_pos{};       // upper elevation limit; sets the symmetric vertical field of view
  float vertical_down_pos{};     // lower elevation limit; informative only
  float horizontal_start_pos{};  // first azimuth limit, counter-clockwise from base +x
  float horizontal_end_pos{};    // second azimuth limit
  std::string frame_id;          // TF frame of the camera
  int32_t width{};               // image width, pixels
  int32_t height{};              // image height, pixels
  std::string lidar_semantic_obstacles_topic;
  std::string lidar_obstacles_topic;
  std::string lidar_semantic_static_obstacles_topic;
  std::string lidar_static_obstacles_topic;
  std::string lidar_semantic_dynamic_obstacles_topic;
  std::string lidar_dynamic_obstacles_topic;
  std::string lidar_base_pointcloud_topic;
  std::string lidar_elevated_cloud_topic;
  std::string lidar_ground_cloud_topic;
  std::string virtual_camera_info_topic;
  std::string virtual_camera_frustum_topic;
  std::string virtual_camera_pointcloud_topic;
  bool enable_ground_remove{};
  bool enable_cone_remove{};
  float cone_theta_threshold{};  // half angle of the removed up-cone, degrees
};

// Pinhole intrinsics derived from a camera's angular limits.
struct VirtualCameraParam {
  double fx{};  // pixels
  double fy{};
  double cx{};
  double cy{};
  int32_t width{};
  int32_t height{};
  double h_fov{};  // radians
  double v_fov{};  // radians
};

}  // namespace lidar_perception
