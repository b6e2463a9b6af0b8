// The records exchanged between the frame pipeline and the detector thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "trelvon/bbox.hpp"

namespace lidar_perception {

using BBox = trelvon::BBox;

// One frame's obstacle points for the detector.
struct DetectorInput {
  // The cloud to detect in, in the robot's base frame. Shared, never modified after the push.
  std::shared_ptr<pcl::PointCloud<pcl::PointXYZ>> cloud;
  // Number of the frame the cloud belongs to (1, 2, ...), so that its boxes find their frame.
  uint64_t frame_sequence{0};
};

// The detector's boxes for one input.
struct DetectorOutput {
  // In the order the detector returned them (descending score).
  std::vector<BBox> boxes;
  // frame_sequence of the input these boxes were detected in.
  uint64_t frame_sequence{0};
};

}  // namespace lidar_perception
