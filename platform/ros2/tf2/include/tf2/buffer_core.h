// The transform tree with its time caches, without any ROS machinery.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <geometry_msgs/msg/transform_stamped.hpp>

#include "tf2/exceptions.h"
#include "tf2/time.h"

namespace tf2 {

class TimeCache;
using CompactFrameID = uint32_t;

constexpr tf2::Duration BUFFER_CORE_DEFAULT_CACHE_TIME = std::chrono::seconds(10);

// Holds, per child frame, the transforms to its parent over the last `cache_time`
// (dynamic) or the one latest transform (static). Lookups chain through the tree to the
// common ancestor of the two frames, interpolating each link at the requested time
// (linear translation, spherical rotation); time zero means the latest time all links have
// in common. Thread-safe: every public method takes the frame mutex.
//
// Errors: lookupTransform throws LookupException (unknown frame), ConnectivityException
// (no common ancestor), ExtrapolationException (time outside the data) and
// InvalidArgumentException (empty frame id or leading '/'); canTransform reports the same
// faults as false plus the text. setTransform refuses malformed transforms with false and an
// error line on stderr.
class BufferCore {
 public:
  static const int DEFAULT_CACHE_TIME = 10;
  static const uint32_t MAX_GRAPH_DEPTH = 1000UL;

  explicit BufferCore(tf2::Duration cache_time = BUFFER_CORE_DEFAULT_CACHE_TIME);
  virtual ~BufferCore();
  BufferCore(const BufferCore&) = delete;
  BufferCore& operator=(const BufferCore&) = delete;

  void clear();

  // Adds one transform (header.frame_id = parent, child_frame_id = child). Returns false
  // for a transform that is malformed or older than the cache allows.
  bool setTransform(const geometry_msgs::msg::TransformStamped& transform,
                    const std::string& authority, bool is_static = false);

  // The transform that maps points of `source_frame` into `target_frame` at `time`.
  geometry_msgs::msg::TransformStamped lookupTransform(const std::string& target_frame,
                                                       const std::string& source_frame,
                                                       const TimePoint& time) const;
  // Source at `source_time` and target at `target_time`, through `fixed_frame`.
  geometry_msgs::msg::TransformStamped lookupTransform(const std::string& target_frame,
                                                       const TimePoint& target_time,
                                                       const std::string& source_frame,
                                                       const TimePoint& source_time,
                                                       const std::string& fixed_frame) const;

  bool canTransform(const std::string& target_frame, const std::string& source_frame,
                    const TimePoint& time, std::string* error_msg = nullptr) const;
  bool canTransform(const std::string& target_frame, const TimePoint& target_time,
                    const std::string& source_frame, const TimePoint& source_time,
                    const std::string& fixed_frame, std::string* error_msg = nullptr) const;

  bool _frameExists(const std::string& frame_id_str) const;
  std::vector<std::string> getAllFrameNames() const;
  std::string allFramesAsString() const;
  tf2::Duration getCacheLength() { return cache_time_; }

  void setUsingDedicatedThread(bool value) { using_dedicated_thread_ = value; }
  bool isUsingDedicatedThread() const { return using_dedicated_thread_; }

 protected:
  // Called after every accepted transform, outside the frame mutex; wakes waiters.
  virtual void onTransformsChanged() {}

 private:
  struct Link;  // rotation and translation of one child-to-parent step
  enum class WalkResult { Ok, LookupError, ConnectivityError, ExtrapolationError };

  CompactFrameID lookupOrInsertFrameNumber(const std::string& frame);
  CompactFrameID lookupFrameNumber(const std::string& frame) const;
  // Validates and finds a frame for `function_name_arg`; throws like tf2.
  CompactFrameID validateFrameId(const char* function_name_arg, const std::string& frame_id) const;
  WalkResult walk(CompactFrameID target, CompactFrameID source, TimePoint time,
                  geometry_msgs::msg::TransformStamped* out, std::string* error) const;
  WalkResult latestCommonTime(CompactFrameID target, CompactFrameID source, TimePoint& time,
                              std::string* error) const;
  std::string connectivityError(CompactFrameID source, CompactFrameID target) const;

  const tf2::Duration cache_time_;
  bool using_dedicated_thread_{false};
  mutable std::mutex frame_mutex_;
  std::unordered_map<std::string, CompactFrameID> frame_ids_;  // guarded by frame_mutex_
  std::vector<std::string> frame_names_;                   // guarded by frame_mutex_; [0] unused
  std::vector<std::unique_ptr<TimeCache>> frames_;         // guarded by frame_mutex_
  std::map<CompactFrameID, std::string> frame_authority_;  // guarded by frame_mutex_
};

}  // namespace tf2
