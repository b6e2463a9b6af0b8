// The topics lidar_obstacle_detector reads and publishes, as a parameter file configures them, for
// a recorder in another process that cannot ask the node.
#pragma once

#include <string>
#include <vector>

#include "topic_recorder/mcap_recorder.hpp"

namespace topic_recorder {

// Reads the `ros__parameters` of `node_name` (or of "/**") in `params_file` and lists the input
// scan (lidar_topic and topic_type), /tf, /tf_static and, per virtual camera, the outputs its
// switches turn on (split or unsplit obstacles, debug clouds, camera info), plus the box markers
// with post-fusion and debug. Topic keys absent from the file are not listed. Throws
// std::runtime_error naming the file and key for an unreadable file or a value of the wrong type.
std::vector<RecordedTopic> nodeTopicsFromParameters(
    const std::string& params_file, const std::string& node_name = "lidar_detect_node");

}  // namespace topic_recorder
