// Scans of a simulated scene: rendered on the fly from a scenario file, or read from a data set
// that lidar_scene_sim wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lidar_sim/dataset_reader.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "scan_player/scan_source.hpp"

namespace scan_player {

struct SimulatorSourceOptions {
  // Frames to play; 0 plays the scenario's (or data set's) own count.
  std::uint32_t frames{0};
  // A sensor preset ("spinning16", "spinning32", "livox") replacing the scenario's sensor while
  // keeping its mount; empty keeps the scenario's. Scenario files only.
  std::string lidar_preset;
};

// Each frame carries its truth, both message forms, and the robot pose at its stamp (first frame
// only) and at its end, so that a lookup at any point's time interpolates. Poses are stamped
// exactly once each: a frame's end is the next frame's start.
class SimulatorSource : public ScanSource {
 public:
  // `path` is a scenario YAML file or a data set folder (with dataset.yaml). Throws
  // lidar_sim::ScenarioError or std::runtime_error naming the file.
  SimulatorSource(const std::string& path, const SimulatorSourceOptions& options);

  std::string describe() const override;
  std::vector<geometry_msgs::msg::TransformStamped> staticTransforms() const override;
  std::optional<std::size_t> frameCount() const override { return frame_count_; }
  bool next(ScanFrame& frame) override;

 private:
  std::string name_;
  std::unique_ptr<lidar_sim::LidarSimulator> simulator_;
  std::unique_ptr<lidar_sim::DatasetReader> dataset_;
  std::uint32_t frame_count_{0};
  std::uint32_t next_index_{0};
  geometry_msgs::msg::TransformStamped mount_;
};

}  // namespace scan_player
