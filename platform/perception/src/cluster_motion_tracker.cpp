#include <norvel/perception/cluster_motion_tracker.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace norvel {
namespace perception {

namespace {

// A track not matched for this many frames is dropped: one missed frame (an occlusion, a split)
// is bridged, longer gaps start over.
constexpr std::uint64_t kMaxMissedFrames = 2;
// Share of the step-by-step path the net displacement must reach.
constexpr float kMinStraightness = 2.0F / 3.0F;
// Largest relative change of the radius over the window.
constexpr float kMaxRadiusChange = 0.5F;
// Observations a decision needs: four give three steps.
constexpr std::size_t kMinSamples = 4;
// Largest share of the path one step may take, beyond a few centimetres of centroid jitter.
constexpr float kMaxStepShare = 0.5F;
constexpr float kStepJitter = 0.05F;
// Share of a side's travel that the opposite side, when it is the body's own too, must go along.
constexpr float kMinEndAgreement = 0.5F;

}  // namespace

ClusterMotionTracker::ClusterMotionTracker(const Settings& settings) : settings_(settings) {
  settings_.window = std::max(settings_.window, static_cast<int>(kMinSamples));
}

void ClusterMotionTracker::clear() {
  tracks_.clear();
}

void ClusterMotionTracker::beginFrame(std::uint64_t frame) {
  frame_ = frame;
  tracks_.erase(std::remove_if(tracks_.begin(), tracks_.end(),
                               [&](const Track& track) {
                                 return frame_ - track.samples.back().frame > kMaxMissedFrames;
                               }),
                tracks_.end());
}

bool ClusterMotionTracker::observe(const Eigen::Vector2f& centroid, float radius) {
  Observation observation;
  observation.at = {centroid, centroid, centroid};
  observation.radius = radius;
  observation.has_sides = false;
  return observe(observation);
}

bool ClusterMotionTracker::observe(const Observation& observation) {
  if (!(observation.radius <= settings_.max_radius) || !observation.at[kCentre].allFinite() ||
      !observation.at[kLeftSide].allFinite() || !observation.at[kRightSide].allFinite() ||
      (observation.has_near_side && !observation.near_side.allFinite())) {
    return false;
  }
  // The near side of a cluster cut on one side is the body's own along the line of sight only
  // (see alongSight); cut on both, nothing of it is. A cluster larger than a person may be a walker
  // joined to furniture, whose nearest part says nothing of the whole.
  const bool whole = !observation.cut_left && !observation.cut_right && !observation.cut_far;
  const std::array<bool, kReferences> sound = {
      whole, observation.has_sides && !observation.cut_left && !observation.cut_far,
      observation.has_sides && !observation.cut_right && !observation.cut_far,
      observation.has_near_side && !(observation.cut_left && observation.cut_right) &&
          observation.radius <= kPersonRadius && observation.sight.allFinite()};
  const std::array<Eigen::Vector2f, kReferences> at = {
      observation.at[kCentre], observation.at[kLeftSide], observation.at[kRightSide],
      observation.has_near_side ? observation.near_side : observation.at[kCentre]};
  Track* best = nullptr;
  float best_distance = std::numeric_limits<float>::max();
  for (Track& track : tracks_) {
    const Sample& last = track.samples.back();
    if (last.frame >= frame_) {
      continue;  // already given a cluster of this frame
    }
    // Compared by a reference sound in both, the centre when neither is cut.
    int reference = kCentre;
    for (int r = 0; r < kReferences; ++r) {
      if (last.sound[r] && sound[r]) {
        reference = r;
        break;
      }
    }
    const float distance = (last.at[reference] - at[reference]).norm();
    const float gate = settings_.gate_step * static_cast<float>(frame_ - last.frame);
    if (distance <= gate && distance < best_distance) {
      best = &track;
      best_distance = distance;
    }
  }
  if (best == nullptr) {
    tracks_.push_back(Track{});
    best = &tracks_.back();
  }
  std::vector<Sample>& samples = best->samples;
  samples.push_back(Sample{frame_, at, sound, observation.radius, std::max(0.0F, observation.smear),
                           observation.cut_left || observation.cut_right, observation.sight});
  if (samples.size() > static_cast<std::size_t>(settings_.window)) {
    samples.erase(samples.begin());
  }
  float stretch_radius = 0.0F;
  int reference = travellingStretch(*best, stretch_radius);
  if (reference >= 0) {
    best->travelling_radius = stretch_radius;
  } else if (best->travelling_by >= 0 && keepsPace(*best, best->travelling_by)) {
    reference = best->travelling_by;
  }
  best->travelling_by = reference;
  return reference >= 0;
}

bool ClusterMotionTracker::keepsPace(const Track& track, int reference) const {
  const std::vector<Sample>& samples = track.samples;
  if (samples.size() < 3) {
    return false;
  }
  const Sample& last = samples.back();
  const Sample& previous = samples[samples.size() - 2];
  const Sample& recent = samples[samples.size() - 3];
  // The body keeps the size it travelled with (a person's at least, whose legs and arms part
  // and join): a cluster that grows may be a walker joined to the furniture it passes, whose
  // centre moves along while the furniture stays.
  const float largest =
      (1.0F + kMaxRadiusChange) * std::max(kPersonRadius, track.travelling_radius);
  if (!last.sound[reference] || !previous.sound[reference] || !recent.sound[reference] ||
      std::max({last.radius, previous.radius, recent.radius}) > largest) {
    return false;
  }
  // The pace a travelling stretch needs, over the newest step (a walker turning back on the
  // spot) or over the last two (a step shortened by the centroid's jitter), and no jump beyond
  // the body's size in the newest step. Someone who stops fails both within two frames.
  const float step = (last.at[reference] - previous.at[reference]).norm();
  const bool paced = step >= settings_.min_step * static_cast<float>(last.frame - previous.frame) ||
                     pacedOverLastTwo(samples, reference);
  return paced && withinReach(previous, last, step) &&
         alongSight(samples, samples.size() - 3, reference);
}

bool ClusterMotionTracker::pacedOverLastTwo(const std::vector<Sample>& samples,
                                            int reference) const {
  const Sample& last = samples.back();
  const Sample& recent = samples[samples.size() - 3];
  return last.sound[reference] && recent.sound[reference] &&
         samples[samples.size() - 2].sound[reference] &&
         (last.at[reference] - recent.at[reference]).norm() >=
             settings_.min_step * static_cast<float>(last.frame - recent.frame);
}

bool ClusterMotionTracker::alongSight(const std::vector<Sample>& samples, std::size_t first,
                                      int reference) {
  if (reference != kNearSide) {
    return true;
  }
  bool cut = false;
  for (std::size_t i = first; i < samples.size(); ++i) {
    cut = cut || samples[i].near_only_radial;
  }
  if (!cut) {
    return true;
  }
  const Eigen::Vector2f travel = samples.back().at[kNearSide] - samples[first].at[kNearSide];
  return std::fabs(travel.dot(samples.back().sight)) >= kMinStraightness * travel.norm();
}

bool ClusterMotionTracker::withinReach(const Sample& from, const Sample& to, float step) {
  const float reach = std::max(from.radius, to.radius) + kStepJitter;
  return step <= reach * static_cast<float>(to.frame - from.frame);
}

int ClusterMotionTracker::travellingStretch(const Track& track, float& stretch_radius) const {
  const std::vector<Sample>& samples = track.samples;
  const std::uint64_t first_frame = frame_ >= static_cast<std::uint64_t>(settings_.window)
                                        ? frame_ + 1 - static_cast<std::uint64_t>(settings_.window)
                                        : 0;
  std::size_t oldest = 0;
  while (oldest < samples.size() && samples[oldest].frame < first_frame) {
    ++oldest;
  }
  if (samples.size() - oldest < kMinSamples) {
    return -1;
  }
  const Sample& last = samples.back();
  // Every stretch of the window that ends now is asked, the shortest first: a walker who turned
  // back, or set off, a few frames ago travels steadily since then, and the turn or the wait
  // before it must not hide that until it leaves the window. Each reference is followed for as
  // long as it is sound in every sample but for single ones between two sound samples; a longer
  // stretch only adds steps, so its path, longest step and radii are carried over from the
  // shorter one.
  struct Course {
    bool alive{false};
    float path{0.0F};
    float longest_step{0.0F};
    std::size_t newer{0};  // the sound sample the next step older leads to
    std::size_t sound_samples{0};
    int unsound_run{0};
  };
  std::array<Course, kReferences> courses;
  for (int r = 0; r < kReferences; ++r) {
    // Still moving now: the last two steps keep the pace, so that someone who stops is let go at
    // once rather than when the walk leaves the window.
    courses[r].alive = pacedOverLastTwo(samples, r);
    courses[r].newer = samples.size() - 1;
  }
  float min_radius = std::numeric_limits<float>::max();
  float max_radius = 0.0F;
  float max_smear = 0.0F;
  std::array<bool, kReferences> sound_throughout = {true, true, true, true};
  for (std::size_t i = samples.size() - 1;; --i) {
    min_radius = std::min(min_radius, samples[i].radius);
    max_radius = std::max(max_radius, samples[i].radius);
    max_smear = std::max(max_smear, samples[i].smear);
    for (int r = 0; r < kReferences; ++r) {
      sound_throughout[r] = sound_throughout[r] && samples[i].sound[r];
    }
    bool any_alive = false;
    for (int r = 0; r < kReferences; ++r) {
      Course& course = courses[r];
      if (!course.alive) {
        continue;
      }
      // A reference that one observation cannot vouch for (a side cut there for a frame by
      // something passing in front) says nothing in it; the step spans it, as a missed frame is
      // bridged, while a longer run of such observations ends the course.
      if (!samples[i].sound[r]) {
        course.alive = ++course.unsound_run < static_cast<int>(kMaxMissedFrames);
        any_alive = any_alive || course.alive;
        continue;
      }
      course.unsound_run = 0;
      ++course.sound_samples;
      if (i < course.newer) {
        const Sample& newer = samples[course.newer];
        const float step = (newer.at[r] - samples[i].at[r]).norm();
        course.path += step;
        course.longest_step = std::max(course.longest_step, step);
        course.newer = i;
        // A body moves less than its own size from one frame to the next; a track that gets
        // ahead of that jumps between fragments (of a wall seen in pieces), and so does every
        // longer stretch through that step.
        if (!withinReach(samples[i], newer, step)) {
          course.alive = false;
          continue;
        }
      }
      any_alive = true;
      if (course.sound_samples < kMinSamples) {
        continue;
      }
      const float net = (last.at[r] - samples[i].at[r]).norm();
      const float frames = static_cast<float>(last.frame - samples[i].frame);
      // The centre of whatever part of a still object is in view stays inside the object: only a
      // body that travels farther than its own width has moved. A side that is the body's own
      // boundary stays at a still object's edge, so a side need travel only half that (a cart
      // moving along its length shows its ends travel long before its centre has gone its
      // length), plus the sweep's smear: while the robot turns, a scan puts a still edge up to
      // the smear away from where another put it. A course is steady when it does
      // not wander (net against path), when no single jump (to a neighbouring cluster) makes it,
      // and when the cluster keeps its size (one coming into view or being uncovered shifts its
      // centre; a person-sized cluster is exempt, its legs and body join and part from frame to
      // frame).
      const float least_travel = r == kCentre ? 2.0F * max_radius : max_radius + max_smear;
      // A body's two ends go together. One end travelling while the other, seen as the cluster's
      // own all along, stays is a walker who set off beside a desk or a shelf and is still joined
      // to it: the cluster as a whole has not moved, and the walker's own points tell for it. A
      // person-sized cluster holds no desk; its ends are legs, which part and join.
      const int other_side = r == kLeftSide ? kRightSide : kLeftSide;
      const bool other_side_stays =
          (r == kLeftSide || r == kRightSide) && max_radius > kPersonRadius &&
          sound_throughout[other_side] &&
          (last.at[other_side] - samples[i].at[other_side]).norm() < kMinEndAgreement * net;
      if (!other_side_stays && net >= least_travel && net >= settings_.min_step * frames &&
          alongSight(samples, i, r) && net >= kMinStraightness * course.path &&
          course.longest_step <= kMaxStepShare * course.path + kStepJitter &&
          (max_radius <= kPersonRadius ||
           max_radius - min_radius <= kMaxRadiusChange * max_radius)) {
        stretch_radius = max_radius;
        return r;
      }
    }
    if (!any_alive || i == oldest) {
      return -1;
    }
  }
}

}  // namespace perception
}  // namespace norvel
