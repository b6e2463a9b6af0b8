// Reads frames back from a data set directory written by DatasetWriter.
//
// The constructor reads and checks the index; `readFrame` loads one frame's files, checking
// them against each other, so frames can be loaded in any order without re-simulating.
// Throws DatasetError naming the file and what is wrong with it.
#pragma once

#include <Eigen/Geometry>

#include <cstdint>
#include <string>

#include "lidar_sim/dataset_layout.hpp"
#include "lidar_sim/scenario.hpp"
#include "lidar_sim/simulated_frame.hpp"

namespace lidar_sim {

class DatasetReader {
 public:
  explicit DatasetReader(const std::string& directory);

  std::uint32_t frameCount() const { return frame_count_; }
  const std::string& scenarioName() const { return scenario_name_; }
  const FrameIds& frameIds() const { return frame_ids_; }
  const Eigen::Isometry3d& mount() const { return mount_; }
  std::int64_t framePeriodNs() const { return frame_period_ns_; }

  // Frame `index` < frameCount().
  SimulatedFrame readFrame(std::uint32_t index) const;

 private:
  std::string directory_;
  std::string scenario_name_;
  std::uint32_t frame_count_{0};
  std::int64_t frame_period_ns_{0};
  FrameIds frame_ids_;
  Eigen::Isometry3d mount_{Eigen::Isometry3d::Identity()};
};

}  // namespace lidar_sim
