#include "tf2/buffer_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "time_cache.h"

namespace tf2 {
namespace {

// tf2 reports refused input on the console, without ROS logging.
void log_error(const std::string& text) {
  std::fprintf(stderr, "Error:   %s\n", text.c_str());
}

std::string strip_slash(const std::string& frame) {
  return (!frame.empty() && frame[0] == '/') ? frame.substr(1) : frame;
}

struct Pose {
  Eigen::Quaterniond rotation{Eigen::Quaterniond::Identity()};
  Eigen::Vector3d translation{Eigen::Vector3d::Zero()};

  // this ∘ other: apply `other` first.
  Pose operator*(const Pose& other) const {
    return Pose{rotation * other.rotation, rotation * other.translation + translation};
  }
  Pose inverse() const {
    const Eigen::Quaterniond inv = rotation.conjugate();
    return Pose{inv, -(inv * translation)};
  }
};

TimePoint stamp_to_time(const builtin_interfaces::msg::Time& stamp) {
  return TimePoint(std::chrono::seconds(stamp.sec) + std::chrono::nanoseconds(stamp.nanosec));
}

builtin_interfaces::msg::Time time_to_stamp(const TimePoint& time) {
  builtin_interfaces::msg::Time stamp;
  const int64_t ns = time.time_since_epoch().count();
  int64_t sec = ns / 1000000000LL;
  int64_t nsec = ns % 1000000000LL;
  if (nsec < 0) {
    nsec += 1000000000LL;
    sec -= 1;
  }
  stamp.sec = static_cast<int32_t>(sec);
  stamp.nanosec = static_cast<uint32_t>(nsec);
  return stamp;
}

}  // namespace

BufferCore::BufferCore(tf2::Duration cache_time) : cache_time_(cache_time) {
  frame_names_.emplace_back("NO_PARENT");
  frames_.emplace_back(nullptr);
}

BufferCore::~BufferCore() = default;

void BufferCore::clear() {
  std::lock_guard<std::mutex> lock(frame_mutex_);
  for (std::size_t i = 1; i < frames_.size(); ++i) {
    if (frames_[i] != nullptr && !frames_[i]->isStatic()) {
      frames_[i] = std::make_unique<TimeCache>(cache_time_, false);
    }
  }
}

CompactFrameID BufferCore::lookupOrInsertFrameNumber(const std::string& frame) {
  auto it = frame_ids_.find(frame);
  if (it != frame_ids_.end()) {
    return it->second;
  }
  const CompactFrameID id = static_cast<CompactFrameID>(frames_.size());
  frame_ids_.emplace(frame, id);
  frame_names_.push_back(frame);
  frames_.emplace_back(nullptr);
  return id;
}

CompactFrameID BufferCore::lookupFrameNumber(const std::string& frame) const {
  auto it = frame_ids_.find(frame);
  return it == frame_ids_.end() ? 0 : it->second;
}

bool BufferCore::setTransform(const geometry_msgs::msg::TransformStamped& transform_in,
                              const std::string& authority, bool is_static) {
  geometry_msgs::msg::TransformStamped transform = transform_in;
  transform.header.frame_id = strip_slash(transform.header.frame_id);
  transform.child_frame_id = strip_slash(transform.child_frame_id);
  const auto& t = transform.transform.translation;
  const auto& q = transform.transform.rotation;
  char numbers[256];
  if (transform.child_frame_id == transform.header.frame_id) {
    log_error("TF_SELF_TRANSFORM: Ignoring transform from authority \"" + authority +
              "\" with frame_id and child_frame_id  \"" + transform.child_frame_id +
              "\" because they are the same");
    return false;
  }
  if (transform.child_frame_id.empty()) {
    log_error("TF_NO_CHILD_FRAME_ID: Ignoring transform from authority \"" + authority +
              "\" because child_frame_id not set ");
    return false;
  }
  if (transform.header.frame_id.empty()) {
    log_error("TF_NO_FRAME_ID: Ignoring transform with child_frame_id \"" +
              transform.child_frame_id + "\"  from authority \"" + authority +
              "\" because frame_id not set");
    return false;
  }
  if (!std::isfinite(t.x) || !std::isfinite(t.y) || !std::isfinite(t.z) || !std::isfinite(q.x) ||
      !std::isfinite(q.y) || !std::isfinite(q.z) || !std::isfinite(q.w)) {
    std::snprintf(numbers, sizeof(numbers), "(%f %f %f) (%f %f %f %f)", t.x, t.y, t.z, q.x, q.y,
                  q.z, q.w);
    log_error("TF_NAN_INPUT: Ignoring transform for child_frame_id \"" + transform.child_frame_id +
              "\" from authority \"" + authority + "\" because of a nan value in the transform " +
              numbers);
    return false;
  }
  const double norm2 = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
  if (std::abs(norm2 - 1.0) > 10e-3) {
    std::snprintf(numbers, sizeof(numbers), "(%f %f %f %f)", q.x, q.y, q.z, q.w);
    log_error("TF_DENORMALIZED_QUATERNION: Ignoring transform for child_frame_id \"" +
              transform.child_frame_id + "\" from authority \"" + authority +
              "\" because of an invalid quaternion in the transform " + numbers);
    return false;
  }

  bool accepted = false;
  {
    std::lock_guard<std::mutex> lock(frame_mutex_);
    const CompactFrameID child = lookupOrInsertFrameNumber(transform.child_frame_id);
    const CompactFrameID parent = lookupOrInsertFrameNumber(transform.header.frame_id);
    auto& cache = frames_[child];
    if (cache == nullptr || cache->isStatic() != is_static) {
      // A frame published both ways takes the kind of its latest transform.
      cache = std::make_unique<TimeCache>(cache_time_, is_static);
    }
    TransformStorage storage;
    storage.rotation = Eigen::Quaterniond(q.w, q.x, q.y, q.z).normalized();
    storage.translation = Eigen::Vector3d(t.x, t.y, t.z);
    storage.stamp = stamp_to_time(transform.header.stamp);
    storage.parent_id = parent;
    accepted = cache->insertData(storage);
    if (accepted) {
      frame_authority_[child] = authority;
    } else {
      log_error("TF_OLD_DATA ignoring data from the past for frame " + transform.child_frame_id +
                " at time " + displayTimePoint(storage.stamp) + " according to authority " +
                authority +
                "\nPossible reasons are listed at http://wiki.ros.org/tf/Errors%20explained");
    }
  }
  if (accepted) {
    onTransformsChanged();
  }
  return accepted;
}

CompactFrameID BufferCore::validateFrameId(const char* function_name_arg,
                                           const std::string& frame_id) const {
  if (frame_id.empty()) {
    throw tf2::InvalidArgumentException(std::string("Invalid argument passed to ") +
                                        function_name_arg + " in tf2 frame_ids cannot be empty");
  }
  if (frame_id[0] == '/') {
    throw tf2::InvalidArgumentException("Invalid argument \"" + frame_id + "\" passed to " +
                                        function_name_arg +
                                        " in tf2 frame_ids cannot start with a '/' like: ");
  }
  const CompactFrameID id = lookupFrameNumber(frame_id);
  if (id == 0) {
    throw tf2::LookupException("\"" + frame_id + "\" passed to " + function_name_arg +
                               " does not exist. ");
  }
  return id;
}

std::string BufferCore::connectivityError(CompactFrameID source, CompactFrameID target) const {
  return "Could not find a connection between '" + frame_names_[target] + "' and '" +
         frame_names_[source] +
         "' because they are not part of the same tree.Tf has two or more unconnected trees.";
}

BufferCore::WalkResult BufferCore::latestCommonTime(CompactFrameID target, CompactFrameID source,
                                                    TimePoint& time, std::string* error) const {
  if (source == target) {
    const auto& cache = frames_[source];
    time = cache != nullptr ? cache->getLatestTimeAndParent().first : TimePointZero;
    return WalkResult::Ok;
  }
  // Latest stamp of each link from the source up to the root.
  std::vector<std::pair<CompactFrameID, TimePoint>> source_chain;
  CompactFrameID frame = source;
  TimePoint common = TimePoint::max();
  for (uint32_t depth = 0; frame != 0; ++depth) {
    if (depth > MAX_GRAPH_DEPTH) {
      if (error != nullptr) {
        *error = "The tf tree is invalid because it contains a loop.";
      }
      return WalkResult::LookupError;
    }
    const auto& cache = frames_[frame];
    const auto latest = cache != nullptr ? cache->getLatestTimeAndParent()
                                         : std::make_pair(TimePointZero, CompactFrameID{0});
    source_chain.emplace_back(frame, latest.first);
    if (frame == target || latest.second == 0) {
      break;
    }
    frame = latest.second;
  }
  auto chain_index = [&](CompactFrameID id) -> std::size_t {
    for (std::size_t i = 0; i < source_chain.size(); ++i) {
      if (source_chain[i].first == id) {
        return i;
      }
    }
    return source_chain.size();
  };
  // Walk from the target until it meets the source chain.
  frame = target;
  std::size_t meet = chain_index(frame);
  for (uint32_t depth = 0; meet == source_chain.size(); ++depth) {
    if (depth > MAX_GRAPH_DEPTH) {
      if (error != nullptr) {
        *error = "The tf tree is invalid because it contains a loop.";
      }
      return WalkResult::LookupError;
    }
    const auto& cache = frames_[frame];
    if (cache == nullptr || cache->empty()) {
      if (error != nullptr) {
        *error = connectivityError(source, target);
      }
      return WalkResult::ConnectivityError;
    }
    const auto latest = cache->getLatestTimeAndParent();
    if (latest.first != TimePointZero) {
      common = std::min(common, latest.first);
    }
    frame = latest.second;
    meet = chain_index(frame);
  }
  // Links below the meeting frame on the source side count too (the meeting frame's own
  // link to its parent does not).
  for (std::size_t i = 0; i < meet; ++i) {
    if (source_chain[i].second != TimePointZero) {
      common = std::min(common, source_chain[i].second);
    }
  }
  time = common == TimePoint::max() ? TimePointZero : common;
  return WalkResult::Ok;
}

BufferCore::WalkResult BufferCore::walk(CompactFrameID target, CompactFrameID source,
                                        TimePoint time, geometry_msgs::msg::TransformStamped* out,
                                        std::string* error) const {
  if (time == TimePointZero) {
    const WalkResult result = latestCommonTime(target, source, time, error);
    if (result != WalkResult::Ok) {
      return result;
    }
  }
  // Source chain: each frame with the pose of the source in it.
  std::vector<std::pair<CompactFrameID, Pose>> source_chain{{source, Pose{}}};
  std::string extrapolation_error;
  bool extrapolation_possible = false;
  enum class Step { kUp, kEnd, kLoop };
  // Moves `frame` one link towards the root at `time`, composing that link into `pose`.
  auto step_up = [&](CompactFrameID& frame, Pose& pose, uint32_t depth) {
    if (depth > MAX_GRAPH_DEPTH) {
      if (error != nullptr) {
        *error = "The tf tree is invalid because it contains a loop.";
      }
      return Step::kLoop;
    }
    const auto& cache = frames_[frame];
    if (cache == nullptr || cache->empty()) {
      return Step::kEnd;
    }
    TransformStorage link;
    std::string link_error;
    if (!cache->getData(time, link, &link_error)) {
      extrapolation_error = link_error;
      extrapolation_possible = true;
      return Step::kEnd;
    }
    pose = Pose{link.rotation, link.translation} * pose;
    frame = link.parent_id;
    return Step::kUp;
  };

  CompactFrameID frame = source;
  Pose accumulated;
  for (uint32_t depth = 0; frame != target; ++depth) {
    const Step step = step_up(frame, accumulated, depth);
    if (step == Step::kLoop) {
      return WalkResult::LookupError;
    }
    if (step == Step::kEnd) {
      break;
    }
    source_chain.emplace_back(frame, accumulated);
  }

  Pose source_in_meet;
  Pose target_in_meet;
  bool met = false;
  auto find_in_source_chain = [&](CompactFrameID id, Pose& pose) {
    for (const auto& entry : source_chain) {
      if (entry.first == id) {
        pose = entry.second;
        return true;
      }
    }
    return false;
  };
  frame = target;
  Pose target_accumulated;
  for (uint32_t depth = 0;; ++depth) {
    if (find_in_source_chain(frame, source_in_meet)) {
      target_in_meet = target_accumulated;
      met = true;
      break;
    }
    const Step step = step_up(frame, target_accumulated, depth);
    if (step == Step::kLoop) {
      return WalkResult::LookupError;
    }
    if (step == Step::kEnd) {
      break;
    }
  }

  if (!met) {
    if (extrapolation_possible) {
      if (error != nullptr) {
        *error = extrapolation_error + ", when looking up transform from frame [" +
                 frame_names_[source] + "] to frame [" + frame_names_[target] + "]";
      }
      return WalkResult::ExtrapolationError;
    }
    if (error != nullptr) {
      *error = connectivityError(source, target);
    }
    return WalkResult::ConnectivityError;
  }

  if (out != nullptr) {
    const Pose result = target_in_meet.inverse() * source_in_meet;
    out->header.stamp = time_to_stamp(time);
    out->header.frame_id = frame_names_[target];
    out->child_frame_id = frame_names_[source];
    out->transform.translation.x = result.translation.x();
    out->transform.translation.y = result.translation.y();
    out->transform.translation.z = result.translation.z();
    out->transform.rotation.x = result.rotation.x();
    out->transform.rotation.y = result.rotation.y();
    out->transform.rotation.z = result.rotation.z();
    out->transform.rotation.w = result.rotation.w();
  }
  return WalkResult::Ok;
}

geometry_msgs::msg::TransformStamped BufferCore::lookupTransform(const std::string& target_frame,
                                                                 const std::string& source_frame,
                                                                 const TimePoint& time) const {
  std::lock_guard<std::mutex> lock(frame_mutex_);
  const CompactFrameID target =
      validateFrameId("lookupTransform argument target_frame", target_frame);
  const CompactFrameID source =
      validateFrameId("lookupTransform argument source_frame", source_frame);
  geometry_msgs::msg::TransformStamped result;
  std::string error;
  switch (walk(target, source, time, &result, &error)) {
    case WalkResult::Ok:
      return result;
    case WalkResult::LookupError:
      throw LookupException(error);
    case WalkResult::ConnectivityError:
      throw ConnectivityException(error);
    case WalkResult::ExtrapolationError:
      throw ExtrapolationException(error);
  }
  throw TransformException("unknown lookup result");
}

geometry_msgs::msg::TransformStamped BufferCore::lookupTransform(
    const std::string& target_frame, const TimePoint& target_time, const std::string& source_frame,
    const TimePoint& source_time, const std::string& fixed_frame) const {
  const auto source_to_fixed = lookupTransform(fixed_frame, source_frame, source_time);
  const auto fixed_to_target = lookupTransform(target_frame, fixed_frame, target_time);
  auto to_pose = [](const geometry_msgs::msg::Transform& t) {
    return Pose{Eigen::Quaterniond(t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z),
                Eigen::Vector3d(t.translation.x, t.translation.y, t.translation.z)};
  };
  const Pose result = to_pose(fixed_to_target.transform) * to_pose(source_to_fixed.transform);
  geometry_msgs::msg::TransformStamped out;
  // tf2 stamps the result with the time of the second (target side) lookup.
  out.header.stamp = fixed_to_target.header.stamp;
  out.header.frame_id = target_frame;
  out.child_frame_id = source_frame;
  out.transform.translation.x = result.translation.x();
  out.transform.translation.y = result.translation.y();
  out.transform.translation.z = result.translation.z();
  out.transform.rotation.x = result.rotation.x();
  out.transform.rotation.y = result.rotation.y();
  out.transform.rotation.z = result.rotation.z();
  out.transform.rotation.w = result.rotation.w();
  return out;
}

bool BufferCore::canTransform(const std::string& target_frame, const std::string& source_frame,
                              const TimePoint& time, std::string* error_msg) const {
  std::lock_guard<std::mutex> lock(frame_mutex_);
  if (target_frame.empty() || source_frame.empty()) {
    if (error_msg != nullptr) {
      *error_msg = "canTransform: frame ids cannot be empty";
    }
    return false;
  }
  const CompactFrameID target = lookupFrameNumber(strip_slash(target_frame));
  const CompactFrameID source = lookupFrameNumber(strip_slash(source_frame));
  if (target == 0 || source == 0) {
    if (error_msg != nullptr) {
      *error_msg = target == 0 ? "canTransform: target_frame " + target_frame + " does not exist."
                               : "canTransform: source_frame " + source_frame + " does not exist.";
    }
    return false;
  }
  return walk(target, source, time, nullptr, error_msg) == WalkResult::Ok;
}

bool BufferCore::canTransform(const std::string& target_frame, const TimePoint& target_time,
                              const std::string& source_frame, const TimePoint& source_time,
                              const std::string& fixed_frame, std::string* error_msg) const {
  return canTransform(target_frame, fixed_frame, target_time, error_msg) &&
         canTransform(fixed_frame, source_frame, source_time, error_msg);
}

bool BufferCore::_frameExists(const std::string& frame_id_str) const {
  std::lock_guard<std::mutex> lock(frame_mutex_);
  return frame_ids_.count(frame_id_str) != 0;
}

std::vector<std::string> BufferCore::getAllFrameNames() const {
  std::lock_guard<std::mutex> lock(frame_mutex_);
  return std::vector<std::string>(frame_names_.begin() + 1, frame_names_.end());
}

std::string BufferCore::allFramesAsString() const {
  std::lock_guard<std::mutex> lock(frame_mutex_);
  std::ostringstream out;
  for (std::size_t i = 1; i < frames_.size(); ++i) {
    const auto& cache = frames_[i];
    if (cache == nullptr || cache->empty()) {
      continue;
    }
    const uint32_t parent = cache->getLatestTimeAndParent().second;
    out << "Frame " << frame_names_[i] << " exists with parent " << frame_names_[parent] << ".\n";
  }
  return out.str();
}

}  // namespace tf2
