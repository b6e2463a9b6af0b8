// RViz line-list markers of detected boxes.
#pragma once

#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include "trelvon/bbox.hpp"

namespace lidar_perception {

// The marker array of one frame: first a DELETEALL marker (all other fields default) that clears
// the boxes of earlier frames, then per box k a green LINE_LIST marker (namespace
// "bounding_boxes", id k, line width 0.05 m, lifetime 0.1 s) in `frame_id`, stamped with
// `clock`'s now, holding 12 edges as 24 points: the bottom ring A-B, B-C, C-D, D-A at z, the top
// ring at z + height, then the vertical edges at A, B, C, D. Corners as in boxFootprint.
visualization_msgs::msg::MarkerArray makeBoxMarkers(const std::vector<trelvon::BBox>& boxes,
                                                    const std::string& frame_id,
                                                    rclcpp::Clock& clock);

}  // namespace lidar_perception
