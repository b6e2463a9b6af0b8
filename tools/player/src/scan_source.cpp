#include "scan_player/scan_source.hpp"

#include <cmath>

#include "lidar_sim/frame_messages.hpp"

namespace scan_player {

geometry_msgs::msg::TransformStamped fixedPoseTransform(const PlanarPose& pose,
                                                        std::int64_t stamp_ns,
                                                        const std::string& map_frame,
                                                        const std::string& base_frame) {
  Eigen::Isometry3d map_to_base = Eigen::Isometry3d::Identity();
  map_to_base.translation() = Eigen::Vector3d(pose.x, pose.y, 0.0);
  map_to_base.linear() = Eigen::AngleAxisd(pose.yaw, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  return lidar_sim::toTransformStamped(map_to_base, map_frame, base_frame, stamp_ns);
}

}  // namespace scan_player
