// The buffered transforms of one child frame to its parent.
#pragma once

#include <Eigen/Geometry>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "tf2/time.h"

namespace tf2 {

// One child-to-parent transform at one time: p_parent = rotation * p_child + translation.
struct TransformStorage {
  Eigen::Quaterniond rotation{Eigen::Quaterniond::Identity()};
  Eigen::Vector3d translation{Eigen::Vector3d::Zero()};
  TimePoint stamp{};
  uint32_t parent_id{0};
};

// Dynamic frames keep every transform of the last `max_storage_time` behind the newest;
// static frames keep only the latest, valid at every time. Not thread-safe (BufferCore
// locks around it).
class TimeCache {
 public:
  TimeCache(tf2::Duration max_storage_time, bool is_static)
      : max_storage_time_(max_storage_time), is_static_(is_static) {}

  bool isStatic() const { return is_static_; }
  bool empty() const { return storage_.empty(); }

  // False when the data is older than the cache keeps.
  bool insertData(const TransformStorage& data);
  // The transform at `time` (zero: the latest), interpolated between the neighbouring
  // stamps; false with the extrapolation text in `error` when `time` lies outside the data.
  bool getData(TimePoint time, TransformStorage& out, std::string* error) const;
  // The parent at `time`, 0 when unknown (with the reason in `error`).
  uint32_t getParent(TimePoint time, std::string* error) const;
  // Newest stamp and its parent; static frames report time zero.
  std::pair<TimePoint, uint32_t> getLatestTimeAndParent() const;

 private:
  const tf2::Duration max_storage_time_;
  const bool is_static_;
  std::deque<TransformStorage> storage_;  // oldest first
};

}  // namespace tf2
