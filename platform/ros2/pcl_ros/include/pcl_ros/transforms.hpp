// Transform messages as 4x4 matrices.
#pragma once

#include <Eigen/Core>

#include <geometry_msgs/msg/transform.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>

namespace pcl_ros {

// The homogeneous matrix of `bt` (rotation from the quaternion scaled by 2/|q|^2, so a
// non-unit quaternion is normalised; translation in the last column; last row 0 0 0 1),
// computed in double and stored as float.
void transformAsMatrix(const geometry_msgs::msg::Transform& bt, Eigen::Matrix4f& out_mat);
void transformAsMatrix(const geometry_msgs::msg::TransformStamped& bt, Eigen::Matrix4f& out_mat);

}  // namespace pcl_ros
