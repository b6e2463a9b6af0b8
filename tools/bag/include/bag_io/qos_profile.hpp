// The `offered_qos_profiles` text rosbag2 keeps per topic (a YAML list of one publisher's QoS),
// so that `ros2 bag play` republishes a topic with the QoS it was recorded with.
#pragma once

#include <cstddef>
#include <string>

namespace bag_io {

// One reliable, keep-last publisher of `depth`; `transient_local` for latched topics such as
// /tf_static, volatile otherwise. Deadline, lifespan and lease are the middleware's defaults.
std::string offeredQosProfiles(bool transient_local = false, std::size_t depth = 10);

}  // namespace bag_io
