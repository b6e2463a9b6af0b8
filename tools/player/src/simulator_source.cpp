#include "scan_player/simulator_source.hpp"

#include <algorithm>
#include <filesystem>

#include <fmt/format.h>

#include "lidar_sim/frame_messages.hpp"
#include "lidar_sim/scenario.hpp"

namespace scan_player {

SimulatorSource::SimulatorSource(const std::string& path, const SimulatorSourceOptions& options) {
  if (std::filesystem::is_directory(path)) {
    if (!options.lidar_preset.empty()) {
      throw std::runtime_error(fmt::format(
          "{}: a recorded data set keeps its sensor; a sensor preset needs a scenario file", path));
    }
    dataset_ = std::make_unique<lidar_sim::DatasetReader>(path);
    name_ = fmt::format("data set {} ({})", path, dataset_->scenarioName());
    frame_count_ = dataset_->frameCount();
    if (frame_count_ == 0) {
      throw std::runtime_error(fmt::format("{}: the data set holds no frames", path));
    }
    mount_ = lidar_sim::toTransformStamped(dataset_->mount(), dataset_->frameIds().base,
                                           dataset_->frameIds().lidar, 0);
  } else {
    lidar_sim::Scenario scenario = lidar_sim::loadScenario(path);
    if (!options.lidar_preset.empty()) {
      const Eigen::Isometry3d mount = scenario.lidar.mount;
      scenario.lidar = lidar_sim::lidarPreset(options.lidar_preset);
      scenario.lidar.mount = mount;
    }
    name_ = fmt::format("scenario {}", scenario.name);
    frame_count_ = static_cast<std::uint32_t>(scenario.frames);
    mount_ = lidar_sim::toTransformStamped(scenario.lidar.mount, scenario.frame_ids.base,
                                           scenario.frame_ids.lidar,
                                           static_cast<std::int64_t>(scenario.start_time * 1e9));
    simulator_ = std::make_unique<lidar_sim::LidarSimulator>(std::move(scenario));
  }
  if (options.frames > 0) {
    frame_count_ = std::min(frame_count_, options.frames);
  }
}

std::string SimulatorSource::describe() const {
  return fmt::format("{}, {} frames", name_, frame_count_);
}

std::vector<geometry_msgs::msg::TransformStamped> SimulatorSource::staticTransforms() const {
  return {mount_};
}

bool SimulatorSource::next(ScanFrame& frame) {
  if (next_index_ >= frame_count_) {
    return false;
  }
  auto simulated = std::make_shared<lidar_sim::SimulatedFrame>(
      simulator_ ? simulator_->simulateFrame(next_index_) : dataset_->readFrame(next_index_));
  frame = ScanFrame{};
  frame.stamp_ns = simulated->stamp_ns;
  frame.cloud =
      std::make_shared<sensor_msgs::msg::PointCloud2>(lidar_sim::toPointCloud2(*simulated));
  frame.custom =
      std::make_shared<livox_ros_driver2::msg::CustomMsg>(lidar_sim::toCustomMsg(*simulated));
  if (next_index_ == 0) {
    frame.transforms.push_back(lidar_sim::robotPoseTransform(*simulated));
  }
  frame.transforms.push_back(lidar_sim::toTransformStamped(
      simulated->map_to_base_end, simulated->frame_ids.map, simulated->frame_ids.base,
      simulated->stamp_ns + simulated->duration_ns));
  frame.truth = std::move(simulated);
  ++next_index_;
  return true;
}

}  // namespace scan_player
