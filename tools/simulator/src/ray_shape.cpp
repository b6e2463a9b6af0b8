#include "lidar_sim/ray_shape.hpp"

#include <algorithm>
#include <cmath>

namespace lidar_sim {

namespace {

// Hits closer than this are the surface the ray started from.
constexpr double kMinDistance = 1e-6;

}  // namespace

bool Bounds::isHitBefore(const Ray& ray, double max_distance) const {
  double near = 0.0;
  double far = max_distance;
  for (int axis = 0; axis < 3; ++axis) {
    const double inverse = ray.inverse_direction[axis];
    double t0 = (min[axis] - ray.origin[axis]) * inverse;
    double t1 = (max[axis] - ray.origin[axis]) * inverse;
    if (std::isnan(t0) || std::isnan(t1)) {
      // Direction 0 along this axis with the origin on a face: treat as inside the slab.
      continue;
    }
    if (t0 > t1) {
      std::swap(t0, t1);
    }
    near = std::max(near, t0);
    far = std::min(far, t1);
    if (near > far) {
      return false;
    }
  }
  return true;
}

RayShape::RayShape(Kind kind, const Eigen::Vector3d& center, const Eigen::Vector3d& half,
                   double yaw)
    : kind_(kind), center_(center), half_(half), cos_yaw_(std::cos(yaw)), sin_yaw_(std::sin(yaw)) {}

RayShape RayShape::box(const Eigen::Vector3d& center, const Eigen::Vector3d& size, double yaw) {
  return RayShape(Kind::kBox, center, size / 2.0, yaw);
}

RayShape RayShape::ellipticCylinder(const Eigen::Vector2d& center, double z_bottom, double z_top,
                                    double semi_x, double semi_y, double yaw) {
  return RayShape(Kind::kEllipticCylinder,
                  Eigen::Vector3d(center.x(), center.y(), (z_bottom + z_top) / 2.0),
                  Eigen::Vector3d(semi_x, semi_y, (z_top - z_bottom) / 2.0), yaw);
}

RayShape RayShape::sphere(const Eigen::Vector3d& center, double radius) {
  return RayShape(Kind::kSphere, center, Eigen::Vector3d::Constant(radius), 0.0);
}

Eigen::Vector3d RayShape::toLocal(const Eigen::Vector3d& v) const {
  return {cos_yaw_ * v.x() + sin_yaw_ * v.y(), -sin_yaw_ * v.x() + cos_yaw_ * v.y(), v.z()};
}

Eigen::Vector3d RayShape::toWorld(const Eigen::Vector3d& v) const {
  return {cos_yaw_ * v.x() - sin_yaw_ * v.y(), sin_yaw_ * v.x() + cos_yaw_ * v.y(), v.z()};
}

bool RayShape::intersect(const Ray& ray, double max_distance, SurfaceHit& hit) const {
  switch (kind_) {
    case Kind::kBox:
      return intersectBox(ray, max_distance, hit);
    case Kind::kEllipticCylinder:
      return intersectCylinder(ray, max_distance, hit);
    case Kind::kSphere:
      return intersectSphere(ray, max_distance, hit);
  }
  return false;
}

Bounds RayShape::bounds() const {
  Bounds result;
  Eigen::Vector3d extent;
  if (kind_ == Kind::kSphere) {
    extent = half_;
  } else if (kind_ == Kind::kBox) {
    const double c = std::abs(cos_yaw_);
    const double s = std::abs(sin_yaw_);
    extent = {c * half_.x() + s * half_.y(), s * half_.x() + c * half_.y(), half_.z()};
  } else {
    // Exact half-widths of a rotated ellipse.
    const double a2 = half_.x() * half_.x();
    const double b2 = half_.y() * half_.y();
    extent = {std::sqrt(a2 * cos_yaw_ * cos_yaw_ + b2 * sin_yaw_ * sin_yaw_),
              std::sqrt(a2 * sin_yaw_ * sin_yaw_ + b2 * cos_yaw_ * cos_yaw_), half_.z()};
  }
  result.min = center_ - extent;
  result.max = center_ + extent;
  return result;
}

bool RayShape::intersectBox(const Ray& ray, double max_distance, SurfaceHit& hit) const {
  const Eigen::Vector3d origin = toLocal(ray.origin - center_);
  const Eigen::Vector3d direction = toLocal(ray.direction);
  double near = -std::numeric_limits<double>::infinity();
  double far = std::numeric_limits<double>::infinity();
  int near_axis = -1;
  for (int axis = 0; axis < 3; ++axis) {
    if (std::abs(direction[axis]) < 1e-12) {
      if (std::abs(origin[axis]) > half_[axis]) {
        return false;
      }
      continue;
    }
    double t0 = (-half_[axis] - origin[axis]) / direction[axis];
    double t1 = (half_[axis] - origin[axis]) / direction[axis];
    if (t0 > t1) {
      std::swap(t0, t1);
    }
    if (t0 > near) {
      near = t0;
      near_axis = axis;
    }
    far = std::min(far, t1);
    if (near > far) {
      return false;
    }
  }
  if (near_axis < 0 || near < kMinDistance || near >= max_distance) {
    return false;
  }
  Eigen::Vector3d normal = Eigen::Vector3d::Zero();
  normal[near_axis] = direction[near_axis] > 0.0 ? -1.0 : 1.0;
  hit.distance = near;
  hit.normal = toWorld(normal);
  return true;
}

bool RayShape::intersectCylinder(const Ray& ray, double max_distance, SurfaceHit& hit) const {
  const Eigen::Vector3d origin = toLocal(ray.origin - center_);
  const Eigen::Vector3d direction = toLocal(ray.direction);
  // In coordinates scaled by the semi-axes the cross-section is the unit circle.
  const double px = origin.x() / half_.x();
  const double py = origin.y() / half_.y();
  const double dx = direction.x() / half_.x();
  const double dy = direction.y() / half_.y();
  double best = max_distance;
  Eigen::Vector3d best_normal;
  bool found = false;

  const double a = dx * dx + dy * dy;
  if (a > 1e-18) {
    const double b = 2.0 * (px * dx + py * dy);
    const double c = px * px + py * py - 1.0;
    const double discriminant = b * b - 4.0 * a * c;
    if (discriminant >= 0.0 && c > 0.0) {
      const double t = (-b - std::sqrt(discriminant)) / (2.0 * a);
      const double z = origin.z() + t * direction.z();
      if (t > kMinDistance && t < best && std::abs(z) <= half_.z()) {
        const double hx = origin.x() + t * direction.x();
        const double hy = origin.y() + t * direction.y();
        best = t;
        best_normal =
            Eigen::Vector3d(hx / (half_.x() * half_.x()), hy / (half_.y() * half_.y()), 0.0)
                .normalized();
        found = true;
      }
    }
  }
  if (std::abs(direction.z()) > 1e-12) {
    // The cap facing the ray's origin.
    const double cap_z = origin.z() < -half_.z() ? -half_.z() : half_.z();
    if (std::abs(origin.z()) > half_.z()) {
      const double t = (cap_z - origin.z()) / direction.z();
      const double qx = px + t * dx;
      const double qy = py + t * dy;
      if (t > kMinDistance && t < best && qx * qx + qy * qy <= 1.0) {
        best = t;
        best_normal = Eigen::Vector3d(0.0, 0.0, cap_z > 0.0 ? 1.0 : -1.0);
        found = true;
      }
    }
  }
  if (!found) {
    return false;
  }
  hit.distance = best;
  hit.normal = toWorld(best_normal);
  return true;
}

bool RayShape::intersectSphere(const Ray& ray, double max_distance, SurfaceHit& hit) const {
  const Eigen::Vector3d offset = ray.origin - center_;
  const double radius = half_.x();
  const double b = offset.dot(ray.direction);
  const double c = offset.squaredNorm() - radius * radius;
  if (c <= 0.0) {
    return false;  // inside
  }
  const double discriminant = b * b - c;
  if (discriminant < 0.0) {
    return false;
  }
  const double t = -b - std::sqrt(discriminant);
  if (t < kMinDistance || t >= max_distance) {
    return false;
  }
  hit.distance = t;
  hit.normal = (offset + t * ray.direction) / radius;
  return true;
}

}  // namespace lidar_sim
