#include "pcl_ros/transforms.hpp"

namespace pcl_ros {

void transformAsMatrix(const geometry_msgs::msg::Transform& bt, Eigen::Matrix4f& out_mat) {
  const double x = bt.rotation.x;
  const double y = bt.rotation.y;
  const double z = bt.rotation.z;
  const double w = bt.rotation.w;
  const double d = x * x + y * y + z * z + w * w;
  const double s = 2.0 / d;
  const double xs = x * s, ys = y * s, zs = z * s;
  const double wx = w * xs, wy = w * ys, wz = w * zs;
  const double xx = x * xs, xy = x * ys, xz = x * zs;
  const double yy = y * ys, yz = y * zs, zz = z * zs;
  Eigen::Matrix4d m;
  m << 1.0 - (yy + zz), xy - wz, xz + wy, bt.translation.x,  //
      xy + wz, 1.0 - (xx + zz), yz - wx, bt.translation.y,   //
      xz - wy, yz + wx, 1.0 - (xx + yy), bt.translation.z,   //
      0.0, 0.0, 0.0, 1.0;
  out_mat = m.cast<float>();
}

void transformAsMatrix(const geometry_msgs::msg::TransformStamped& bt, Eigen::Matrix4f& out_mat) {
  transformAsMatrix(bt.transform, out_mat);
}

}  // namespace pcl_ros
