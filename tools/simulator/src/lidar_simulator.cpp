#include "lidar_sim/lidar_simulator.hpp"

#include <algorithm>
#include <cmath>
#include <random>

namespace lidar_sim {

namespace {

// Seeds a frame's noise generator from the scenario seed and the frame index only.
std::mt19937 frameGenerator(std::uint32_t seed, std::uint32_t index) {
  std::seed_seq sequence{seed, index, 0x6c696461U};
  return std::mt19937(sequence);
}

// Share of the emitted power coming back from a surface of `reflectivity` hit at `cos_incidence`:
// mostly Lambertian, with some light returned even at grazing angles.
float intensityOf(float reflectivity, double cos_incidence) {
  const double value = 255.0 * reflectivity * (0.2 + 0.8 * std::abs(cos_incidence));
  return static_cast<float>(std::clamp(value, 0.0, 255.0));
}

}  // namespace

LidarSimulator::LidarSimulator(const Scenario& scenario)
    : scenario_(scenario),
      scene_(std::make_shared<Scene>(scenario)),
      pattern_(ScanPattern::create(scenario.lidar)),
      robot_path_(scenario.robot.path),
      period_ns_(std::llround(scenario.lidar.frame_period * 1e9)) {
  beams_.reserve(pattern_->beamsPerFrame());
}

std::int64_t LidarSimulator::frameStampNs(std::uint32_t index) const {
  return std::llround(scenario_.start_time * 1e9) + static_cast<std::int64_t>(index) * period_ns_;
}

Eigen::Isometry3d LidarSimulator::robotPose(double time) const {
  const PathState state = robot_path_.at(time);
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  const Eigen::Quaterniond tilt =
      Eigen::Quaterniond::FromTwoVectors(Eigen::Vector3d::UnitZ(), scene_->floorNormal());
  pose.linear() =
      (tilt * Eigen::AngleAxisd(state.yaw, Eigen::Vector3d::UnitZ())).toRotationMatrix();
  pose.translation() = Eigen::Vector3d(state.position.x(), state.position.y(),
                                       scene_->floorHeight(state.position.x(), state.position.y()));
  return pose;
}

SimulatedFrame LidarSimulator::simulateFrame(std::uint32_t index) {
  SimulatedFrame frame;
  simulateFrame(index, frame);
  return frame;
}

void LidarSimulator::simulateFrame(std::uint32_t index, SimulatedFrame& frame) {
  const LidarSpec& lidar = scenario_.lidar;
  frame.index = index;
  frame.stamp_ns = frameStampNs(index);
  frame.duration_ns = period_ns_;
  frame.frame_ids = scenario_.frame_ids;
  frame.base_to_lidar = lidar.mount;
  const double frame_time = static_cast<double>(index) * lidar.frame_period;
  frame.map_to_base = robotPose(frame_time);
  frame.map_to_base_end = robotPose(frame_time + lidar.frame_period);

  if (frame.cloud == nullptr) {
    frame.cloud.reset(new pcl::PointCloud<pcl::PointXYZI>);
  }
  pcl::PointCloud<pcl::PointXYZI>& cloud = *frame.cloud;
  cloud.clear();
  frame.offset_time_ns.clear();
  frame.line.clear();
  frame.labels.clear();
  frame.object_ids.clear();

  pattern_->beamsForFrame(index, beams_);
  cloud.reserve(beams_.size());
  frame.offset_time_ns.reserve(beams_.size());
  frame.line.reserve(beams_.size());
  frame.labels.reserve(beams_.size());
  frame.object_ids.reserve(beams_.size());

  std::mt19937 rng = frameGenerator(scenario_.seed, index);
  std::normal_distribution<double> range_noise(0.0, 1.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto step_ns = std::max<std::int64_t>(1, std::llround(scenario_.motion_step * 1e9));

  std::int64_t step_end = -1;
  Eigen::Isometry3d map_to_lidar = Eigen::Isometry3d::Identity();
  RayHit hit;
  for (std::size_t b = 0; b < beams_.size(); ++b) {
    const Beam& beam = beams_[b];
    if (static_cast<std::int64_t>(beam.offset_ns) >= step_end) {
      // Move the world to the middle of the step this beam falls in.
      const std::int64_t step_start = beam.offset_ns / step_ns * step_ns;
      step_end = step_start + step_ns;
      const double time = frame_time + (static_cast<double>(step_start) + step_ns / 2.0) * 1e-9;
      scene_->moveTo(time);
      map_to_lidar = robotPose(time) * lidar.mount;
      // The step's beams fit in a cone; only bodies near it can be hit.
      std::size_t end = b;
      Eigen::Vector3d sum = Eigen::Vector3d::Zero();
      while (end < beams_.size() && static_cast<std::int64_t>(beams_[end].offset_ns) < step_end) {
        sum += beams_[end].direction;
        ++end;
      }
      if (sum.norm() > 1e-6) {
        const Eigen::Vector3d axis = sum.normalized();
        double min_cos = 1.0;
        for (std::size_t i = b; i < end; ++i) {
          min_cos = std::min(min_cos, axis.dot(beams_[i].direction));
        }
        scene_->restrictToCone(map_to_lidar.translation(), map_to_lidar.linear() * axis,
                               std::acos(std::clamp(min_cos, -1.0, 1.0)) + 1e-6);
      }
    }
    // Draw both numbers for every beam so that one beam's fate never shifts another's noise.
    const double noise = range_noise(rng) * lidar.range_noise_sigma;
    const bool dropped = unit(rng) < lidar.dropout_probability;
    const Ray ray(map_to_lidar.translation(), map_to_lidar.linear() * beam.direction);
    if (dropped || !scene_->castRay(ray, lidar.max_range, hit)) {
      continue;
    }
    const double range = hit.distance + noise;
    if (range < lidar.min_range || range > lidar.max_range) {
      continue;
    }
    const Eigen::Vector3d point = beam.direction * range;
    pcl::PointXYZI p;
    p.x = static_cast<float>(point.x());
    p.y = static_cast<float>(point.y());
    p.z = static_cast<float>(point.z());
    p.intensity = intensityOf(hit.reflectivity, hit.normal.dot(ray.direction));
    cloud.push_back(p);
    frame.offset_time_ns.push_back(beam.offset_ns);
    frame.line.push_back(beam.line);
    frame.labels.push_back(hit.label);
    frame.object_ids.push_back(hit.object_id);
  }
  cloud.width = static_cast<std::uint32_t>(cloud.size());
  cloud.height = 1;
  cloud.is_dense = true;

  // Truth boxes at the stamp, moved into the base frame.
  map_boxes_.clear();
  scene_->boxesAt(frame_time, map_boxes_);
  frame.boxes.clear();
  const Eigen::Isometry3d base_from_map = frame.map_to_base.inverse();
  const Eigen::Vector3d heading = frame.map_to_base.linear().col(0);
  const double robot_yaw = std::atan2(heading.y(), heading.x());
  for (const ObjectBox& box : map_boxes_) {
    ObjectBox local = box;
    const Eigen::Vector3d bottom = base_from_map * Eigen::Vector3d(box.x, box.y, box.z);
    local.x = bottom.x();
    local.y = bottom.y();
    local.z = bottom.z();
    local.yaw = std::remainder(box.yaw - robot_yaw, 2.0 * M_PI);
    frame.boxes.push_back(local);
  }
}

}  // namespace lidar_sim
