// Ray-castable solids the scenes are built from: yawed boxes, vertical elliptic cylinders (with
// caps) and spheres, plus the axis-aligned bounds used to skip whole objects.
//
// Shapes are small values without virtual dispatch, because every beam of every frame tests
// dozens of them. Only entering hits count: a ray starting inside a solid does not see it.
#pragma once

#include <Eigen/Core>

#include <limits>

namespace lidar_sim {

// A ray with a unit direction; the reciprocal direction is kept for bounds tests.
struct Ray {
  Ray(const Eigen::Vector3d& from, const Eigen::Vector3d& unit_direction)
      : origin(from), direction(unit_direction), inverse_direction(unit_direction.cwiseInverse()) {}
  Eigen::Vector3d origin;
  Eigen::Vector3d direction;
  Eigen::Vector3d inverse_direction;
};

struct SurfaceHit {
  double distance{std::numeric_limits<double>::infinity()};
  Eigen::Vector3d normal{Eigen::Vector3d::UnitZ()};  // unit, pointing out of the solid
};

struct Bounds {
  Eigen::Vector3d min{Eigen::Vector3d::Constant(std::numeric_limits<double>::infinity())};
  Eigen::Vector3d max{Eigen::Vector3d::Constant(-std::numeric_limits<double>::infinity())};

  void extend(const Bounds& other) {
    min = min.cwiseMin(other.min);
    max = max.cwiseMax(other.max);
  }
  // True when the ray meets the box before `max_distance` (also when it starts inside).
  bool isHitBefore(const Ray& ray, double max_distance) const;
};

class RayShape {
 public:
  // Box of size (length, width, height) along its yawed axes, centred at `center`.
  static RayShape box(const Eigen::Vector3d& center, const Eigen::Vector3d& size, double yaw);
  // Vertical cylinder with elliptic cross-section: semi-axis `semi_x` along the yawed x axis,
  // `semi_y` across it, from z_bottom to z_top.
  static RayShape ellipticCylinder(const Eigen::Vector2d& center, double z_bottom, double z_top,
                                   double semi_x, double semi_y, double yaw);
  static RayShape sphere(const Eigen::Vector3d& center, double radius);

  // Nearest entering hit in (0, max_distance); leaves `hit` untouched when there is none.
  bool intersect(const Ray& ray, double max_distance, SurfaceHit& hit) const;
  Bounds bounds() const;

 private:
  enum class Kind { kBox, kEllipticCylinder, kSphere };

  RayShape(Kind kind, const Eigen::Vector3d& center, const Eigen::Vector3d& half, double yaw);
  bool intersectBox(const Ray& ray, double max_distance, SurfaceHit& hit) const;
  bool intersectCylinder(const Ray& ray, double max_distance, SurfaceHit& hit) const;
  bool intersectSphere(const Ray& ray, double max_distance, SurfaceHit& hit) const;
  // World vector into the shape's yawed frame and back.
  Eigen::Vector3d toLocal(const Eigen::Vector3d& v) const;
  Eigen::Vector3d toWorld(const Eigen::Vector3d& v) const;

  Kind kind_;
  Eigen::Vector3d center_;  // box and sphere: centre; cylinder: (x, y, mid height)
  Eigen::Vector3d half_;    // box: half sizes; cylinder: (semi_x, semi_y, half height); sphere: r
  double cos_yaw_;
  double sin_yaw_;
};

}  // namespace lidar_sim
