#include "camera_cloud.hpp"

#include <Eigen/Geometry>
#include <Eigen/LU>

#include <cmath>

namespace perception_bench {

norvel::perception::CameraInfo makeCamera(float azimuth_start, float azimuth_end,
                                          const Eigen::Matrix4f& lidar_to_base, int index) {
  norvel::perception::CameraInfo info;
  info.width = 1280;
  info.height = 800;
  info.camera_index = index;
  const double h_fov = std::fabs(azimuth_end - azimuth_start);
  // Vertical field from the upper limit at the azimuth edges, as the node derives it.
  const double t = std::tan(52.0 * M_PI / 180.0);
  const Eigen::Vector3d a(std::cos(azimuth_start), std::sin(azimuth_start), t);
  const Eigen::Vector3d b(std::cos(azimuth_end), std::sin(azimuth_end), t);
  const Eigen::Vector3d n = a.cross(b);
  double phi = std::acos(n.z() / n.norm());
  if (phi >= M_PI / 2) {
    phi -= M_PI / 2;
  }
  const double v_fov = 2 * phi;
  const double fx = info.width / (2 * std::tan(h_fov / 2));
  const double fy = info.height / (2 * std::tan(v_fov / 2));
  info.intrinsics << static_cast<float>(fx), 0, info.width / 2, 0, static_cast<float>(fy),
      info.height / 2, 0, 0, 1;
  const float mid = 0.5F * (azimuth_start + azimuth_end);
  const float c = std::cos(mid);
  const float s = std::sin(mid);
  Eigen::Matrix4f camera_to_lidar = Eigen::Matrix4f::Identity();
  camera_to_lidar.topLeftCorner<3, 3>() << -s, 0, c, c, 0, s, 0, 1, 0;
  info.camera_to_base = lidar_to_base * camera_to_lidar;
  return info;
}

void prepareCameraCloud(const lidar_sim::SimulatedFrame& frame,
                        const norvel::perception::CameraInfo& camera, CameraCloud& out) {
  out.cloud->clear();
  out.truth.clear();
  const Eigen::Matrix4f lidar_to_base = frame.base_to_lidar.matrix().cast<float>();
  const Eigen::Matrix4f base_to_camera = camera.camera_to_base.inverse();
  const Eigen::Vector3f lidar_origin = lidar_to_base.topRightCorner<3, 1>();
  const Eigen::Vector3f lidar_up = lidar_to_base.block<3, 1>(0, 2).normalized();
  const float cos_cone = std::cos(60.0F * static_cast<float>(M_PI) / 180.0F);
  const float fx = camera.intrinsics(0, 0);
  const float fy = camera.intrinsics(1, 1);
  const float cx = camera.intrinsics(0, 2);
  const float cy = camera.intrinsics(1, 2);
  for (std::size_t i = 0; i < frame.cloud->size(); ++i) {
    const auto& q = frame.cloud->points[i];
    const Eigen::Vector3f p = (lidar_to_base * Eigen::Vector4f(q.x, q.y, q.z, 1.0F)).head<3>();
    if (!p.allFinite() || p.z() > 0.666F || std::fabs(p.x()) > 5.0F || std::fabs(p.y()) > 5.0F) {
      continue;
    }
    if (std::fabs(p.y()) < 0.255F &&
        ((p.x() > 0.0F && p.x() < 0.41F) || (p.x() < 0.0F && p.x() > -0.315F))) {
      continue;
    }
    const Eigen::Vector3f c = (base_to_camera * p.homogeneous()).head<3>();
    if (c.z() < 0.0F) {
      continue;
    }
    const float u = c.x() * fx / c.z() + cx;
    const float v = c.y() * fy / c.z() + cy;
    if (!(u >= 0.0F && u <= camera.width && v >= 0.0F && v <= camera.height)) {
      continue;
    }
    const Eigen::Vector3f d = (p - lidar_origin).normalized();
    if (d.dot(lidar_up) >= cos_cone) {
      continue;
    }
    out.cloud->points.emplace_back(p.x(), p.y(), p.z());
    const std::uint16_t id = frame.object_ids[i];
    bool moving = false;
    bool wall = false;
    for (const auto& box : frame.boxes) {
      if (box.id == id) {
        moving = box.speed > 0.1;
        wall = box.object_class == lidar_sim::ObjectClass::kWall;
        break;
      }
    }
    out.truth.push_back(PointTruth{frame.labels[i], id, moving, wall});
  }
  out.cloud->width = static_cast<std::uint32_t>(out.cloud->size());
  out.cloud->height = 1;
}

}  // namespace perception_bench
