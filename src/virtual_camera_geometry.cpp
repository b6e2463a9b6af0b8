#include "virtual_camera_geometry.hpp"

#include <cmath>

#include <Eigen/Geometry>

namespace lidar_perception {

VirtualCameraGeometry makeVirtualCameraGeometry(const VirtualCameraConfig& config,
                                                const Eigen::Matrix4f& lidar2base) {
  VirtualCameraGeometry g;

  // q = q_z(theta) * q_y(90 deg) * q_z(90 deg): turn the optical frame (z forward, y down) so that
  // z looks along the mid azimuth and y points up.
  const float half_sqrt2 = 0.70710677f;
  const Eigen::Quaternionf q_y90(half_sqrt2, 0.0f, half_sqrt2, 0.0f);
  const Eigen::Quaternionf q_z90(half_sqrt2, 0.0f, 0.0f, half_sqrt2);
  const float theta = (config.horizontal_start_pos + config.horizontal_end_pos) / 2.0f;
  const Eigen::Quaternionf q_theta(Eigen::AngleAxisf(theta, Eigen::Vector3f::UnitZ()));
  const Eigen::Quaternionf q = q_theta * q_y90 * q_z90;

  g.cam2lidar = Eigen::Matrix4f::Identity();
  g.cam2lidar.block<3, 3>(0, 0) = q.toRotationMatrix();
  g.lidar2cam = g.cam2lidar.inverse();
  g.cam2base = lidar2base * g.cam2lidar;
  g.base2cam = g.cam2base.inverse();
  g.cam2base_rotation = Eigen::Quaternionf(Eigen::Matrix3f(g.cam2base.block<3, 3>(0, 0)));

  // The vertical field is symmetric about the horizon and set by the upper limit seen at the
  // azimuth edges: the angle between the vertical and the plane through both edge rays.
  const double h_fov =
      static_cast<double>(std::fabs(config.horizontal_end_pos - config.horizontal_start_pos));
  const float t = std::tan(config.vertical_up_pos);
  const Eigen::Vector3d a(std::cos(config.horizontal_start_pos),
                          std::sin(config.horizontal_start_pos), t);
  const Eigen::Vector3d b(std::cos(config.horizontal_end_pos), std::sin(config.horizontal_end_pos),
                          t);
  const Eigen::Vector3d n = a.cross(b);
  double phi = std::acos(n.z() / n.norm());
  constexpr double kHalfPi = 1.5707963267948966;
  if (!(phi < kHalfPi)) {
    phi -= kHalfPi;
  }
  const double v_fov = 2.0 * phi;

  VirtualCameraParam& p = g.param;
  p.fx = config.width / (2.0 * std::tan(h_fov / 2.0));
  p.fy = config.height / (2.0 * std::tan(v_fov / 2.0));
  p.cx = static_cast<double>(config.width / 2);  // integer halves: 1281 gives 640
  p.cy = static_cast<double>(config.height / 2);
  p.width = config.width;
  p.height = config.height;
  p.h_fov = h_fov;
  p.v_fov = v_fov;

  sensor_msgs::msg::CameraInfo& info = g.info;
  info.header.frame_id = config.frame_id;
  info.height = static_cast<uint32_t>(config.height);
  info.width = static_cast<uint32_t>(config.width);
  info.distortion_model = "";
  info.d.assign(5, 0.0);
  info.k = {p.fx, 0.0, p.cx, 0.0, p.fy, p.cy, 0.0, 0.0, 1.0};
  info.r = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
  info.p = {p.fx, 0.0, p.cx, 0.0, 0.0, p.fy, p.cy, 0.0, 0.0, 0.0, 1.0, 0.0};
  info.binning_x = 1;
  info.binning_y = 1;

  const double th = std::tan(h_fov / 2.0);
  const double tv = std::tan(v_fov / 2.0);
  for (const double depth : {0.3, 5.0}) {
    const auto x = static_cast<float>(depth * th);
    const auto y = static_cast<float>(depth * tv);
    const auto z = static_cast<float>(depth);
    g.frustum.push_back(pcl::PointXYZ(x, y, z));
    g.frustum.push_back(pcl::PointXYZ(-x, y, z));
    g.frustum.push_back(pcl::PointXYZ(x, -y, z));
    g.frustum.push_back(pcl::PointXYZ(-x, -y, z));
  }
  return g;
}

}  // namespace lidar_perception
