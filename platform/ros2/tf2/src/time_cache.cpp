#include "time_cache.h"

#include <algorithm>

namespace tf2 {

bool TimeCache::insertData(const TransformStorage& data) {
  if (is_static_) {
    storage_.clear();
    storage_.push_back(data);
    return true;
  }
  if (!storage_.empty() && storage_.back().stamp > data.stamp + max_storage_time_) {
    return false;
  }
  auto position = std::lower_bound(
      storage_.begin(), storage_.end(), data.stamp,
      [](const TransformStorage& stored, const TimePoint& stamp) { return stored.stamp < stamp; });
  if (position != storage_.end() && position->stamp == data.stamp) {
    *position = data;  // a repeated stamp replaces the earlier value
  } else {
    storage_.insert(position, data);
  }
  const TimePoint newest = storage_.back().stamp;
  while (!storage_.empty() && storage_.front().stamp + max_storage_time_ < newest) {
    storage_.pop_front();
  }
  return true;
}

bool TimeCache::getData(TimePoint time, TransformStorage& out, std::string* error) const {
  if (storage_.empty()) {
    return false;
  }
  if (is_static_) {
    out = storage_.back();
    out.stamp = time;
    return true;
  }
  if (time == TimePointZero) {
    out = storage_.back();
    return true;
  }
  if (storage_.size() == 1) {
    if (storage_.front().stamp == time) {
      out = storage_.front();
      return true;
    }
    if (error != nullptr) {
      *error = "Lookup would require extrapolation at time " + displayTimePoint(time) +
               ", but only time " + displayTimePoint(storage_.front().stamp) + " is in the buffer";
    }
    return false;
  }
  const TimePoint earliest = storage_.front().stamp;
  const TimePoint latest = storage_.back().stamp;
  if (time > latest) {
    if (error != nullptr) {
      *error = "Lookup would require extrapolation into the future.  Requested time " +
               displayTimePoint(time) + " but the latest data is at time " +
               displayTimePoint(latest);
    }
    return false;
  }
  if (time < earliest) {
    if (error != nullptr) {
      *error = "Lookup would require extrapolation into the past.  Requested time " +
               displayTimePoint(time) + " but the earliest data is at time " +
               displayTimePoint(earliest);
    }
    return false;
  }
  auto after = std::lower_bound(
      storage_.begin(), storage_.end(), time,
      [](const TransformStorage& stored, const TimePoint& stamp) { return stored.stamp < stamp; });
  if (after->stamp == time) {
    out = *after;
    return true;
  }
  const TransformStorage& one = *(after - 1);
  const TransformStorage& two = *after;
  if (one.parent_id != two.parent_id) {
    // The parent changed in between: no meaningful interpolation, take the older value.
    out = one;
    out.stamp = time;
    return true;
  }
  const double ratio = std::chrono::duration<double>(time - one.stamp).count() /
                       std::chrono::duration<double>(two.stamp - one.stamp).count();
  out.translation = one.translation + ratio * (two.translation - one.translation);
  out.rotation = one.rotation.slerp(ratio, two.rotation);
  out.stamp = time;
  out.parent_id = one.parent_id;
  return true;
}

uint32_t TimeCache::getParent(TimePoint time, std::string* error) const {
  TransformStorage data;
  if (!getData(time, data, error)) {
    return 0;
  }
  return data.parent_id;
}

std::pair<TimePoint, uint32_t> TimeCache::getLatestTimeAndParent() const {
  if (storage_.empty()) {
    return {TimePointZero, 0};
  }
  return {is_static_ ? TimePointZero : storage_.back().stamp, storage_.back().parent_id};
}

}  // namespace tf2
