// A minimal ray caster for tests: a level lidar over a flat floor among axis-aligned boxes.
// Its labels come from the geometry of the hit, independently of the code under test.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <cmath>
#include <limits>
#include <vector>

namespace perception_test {

constexpr float kPi = 3.14159265358979F;
constexpr float kLidarHeight = 0.3F;

struct Box {
  Eigen::Vector3f min;
  Eigen::Vector3f max;
  int id;
};

// One labelled return in the robot base frame; id -1 is the floor.
struct Hit {
  pcl::PointXYZ point;
  int id;
};

// Robot pose in the map: position on the floor and heading.
struct Pose {
  float x{0.0F};
  float y{0.0F};
  float yaw{0.0F};
  Eigen::Matrix4f baseToMap() const {
    Eigen::Matrix4f t = Eigen::Matrix4f::Identity();
    t.topLeftCorner<3, 3>() = Eigen::AngleAxisf(yaw, Eigen::Vector3f::UnitZ()).toRotationMatrix();
    t(0, 3) = x;
    t(1, 3) = y;
    return t;
  }
};

inline bool rayHitsBox(const Eigen::Vector3f& origin, const Eigen::Vector3f& dir, const Box& box,
                       float& t_hit) {
  float t_near = 0.0F;
  float t_far = std::numeric_limits<float>::max();
  for (int a = 0; a < 3; ++a) {
    if (std::fabs(dir[a]) < 1e-9F) {
      if (origin[a] < box.min[a] || origin[a] > box.max[a]) {
        return false;
      }
      continue;
    }
    float t0 = (box.min[a] - origin[a]) / dir[a];
    float t1 = (box.max[a] - origin[a]) / dir[a];
    if (t0 > t1) {
      std::swap(t0, t1);
    }
    t_near = std::max(t_near, t0);
    t_far = std::min(t_far, t1);
    if (t_near > t_far) {
      return false;
    }
  }
  t_hit = t_near;
  return t_near > 0.0F;
}

// Where the lidar sits and which elevations it sweeps (upright, level).
struct Sensor {
  float height{kLidarHeight};
  float min_elevation_deg{-7.0F};
  float max_elevation_deg{30.0F};
};

// Scans azimuths [az_begin, az_end) (base frame) at `az_step`, the sensor's elevations at
// `el_step` degrees, up to 8 m, from a lidar `sensor.height` above the base origin.
inline std::vector<Hit> scan(const Pose& pose, const std::vector<Box>& boxes, float az_begin_deg,
                             float az_end_deg, float az_step_deg, float el_step_deg = 1.0F,
                             const Sensor& sensor = Sensor{}) {
  std::vector<Hit> hits;
  const Eigen::Matrix4f base_to_map = pose.baseToMap();
  const Eigen::Matrix3f rotation = base_to_map.topLeftCorner<3, 3>();
  const Eigen::Vector3f origin =
      base_to_map.topRightCorner<3, 1>() + Eigen::Vector3f(0, 0, sensor.height);
  for (float az = az_begin_deg; az < az_end_deg; az += az_step_deg) {
    for (float el = sensor.min_elevation_deg; el <= sensor.max_elevation_deg + 1e-3F;
         el += el_step_deg) {
      const float a = az * kPi / 180.0F;
      const float e = el * kPi / 180.0F;
      const Eigen::Vector3f dir_base(std::cos(e) * std::cos(a), std::cos(e) * std::sin(a),
                                     std::sin(e));
      const Eigen::Vector3f dir = rotation * dir_base;
      float best = 8.0F;
      int id = -2;
      if (dir.z() < 0.0F) {
        const float t = -origin.z() / dir.z();
        if (t < best) {
          best = t;
          id = -1;
        }
      }
      for (const Box& box : boxes) {
        float t = 0.0F;
        if (rayHitsBox(origin, dir, box, t) && t < best) {
          best = t;
          id = box.id;
        }
      }
      if (id == -2) {
        continue;
      }
      const Eigen::Vector3f in_base = dir_base * best + Eigen::Vector3f(0, 0, sensor.height);
      hits.push_back(Hit{pcl::PointXYZ(in_base.x(), in_base.y(), in_base.z()), id});
    }
  }
  return hits;
}

// The node's region of interest at its defaults.
inline bool insideRoi(const pcl::PointXYZ& p) {
  return std::fabs(p.x) <= 5.0F && std::fabs(p.y) <= 5.0F && p.z <= 0.666F;
}

}  // namespace perception_test
