// Lookups with a timeout, as tf2_ros buffers offer them.
#pragma once

#include <string>

#include <geometry_msgs/msg/transform_stamped.hpp>

#include "tf2/time.h"

namespace tf2_ros {

class BufferInterface {
 public:
  virtual ~BufferInterface() = default;
  virtual geometry_msgs::msg::TransformStamped lookupTransform(
      const std::string& target_frame, const std::string& source_frame, const tf2::TimePoint& time,
      const tf2::Duration timeout) const = 0;
  virtual bool canTransform(const std::string& target_frame, const std::string& source_frame,
                            const tf2::TimePoint& time, const tf2::Duration timeout,
                            std::string* errstr = nullptr) const = 0;
};

}  // namespace tf2_ros
