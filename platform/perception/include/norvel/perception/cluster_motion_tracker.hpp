// Follows one camera's obstacle clusters from frame to frame in the map frame and tells which of
// them travel.
#pragma once

#include <Eigen/Core>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvel {
namespace perception {

// The per-point motion test needs an earlier frame that saw through a point's current place. A
// sensor mounted high looks down onto the floor behind a walker, and the floor is removed before
// the detector sees the cloud, so the walker's earlier places look empty and unjudgeable; a
// walker followed by a sparse sensor hides its own earlier places. Following the clusters
// themselves answers what the images cannot: a body that keeps its size and travels steadily
// across the map moves, whatever the images could tell about its points.
//
// Every frame, each observed cluster (its map-frame centroid, its two side boundaries as the
// camera sees them, which of its sides are cut off, and its horizontal radius, the largest
// distance of a point from the centroid) is matched to the nearest track last seen at most two
// frames ago, within `gate_step` metres per frame since then; a cluster matched to none starts a
// track.
//
// A track travels when a stretch of its observations that ends now and lies within the last
// `window` frames (at least four observations; any such stretch, so that a walker who turned back
// or set off a moment ago is not held back by what came before) shows the body carried farther
// than the cluster's own width (2 x its largest radius: the centre of any part of a still object
// stays inside the object, so a changing view cannot do that), at `min_step` metres per frame or
// more, on a steady course: the net displacement at least two thirds of the path summed step by
// step, no single step more than half of it, none longer than the cluster's radius and a few
// centimetres (a body moves less than its own size in a frame; a track that gets ahead of that
// jumps between fragments, of a wall seen in pieces), and the radius changed by at most half
// unless the cluster is person-sized (a cluster coming into view or being uncovered moves its
// centroid without moving). The last two steps must keep the pace, so that someone who stops is
// let go at once. A track that travelled keeps travelling for as long as each new observation
// keeps the pace by the same reference, with no jump, and the cluster grows by at most half
// beyond the size it travelled with (a person's at least): a still object never travels in the
// first place, and a walker who turns back on the spot is the same moving body while it retraces
// ground that no stretch since the turn has yet covered by the cluster's width. A stretch is
// measured by a position that is the body's own in all of its observations, or in all but single
// ones between two where it is (a side cut for a frame by a post passing in front): the centroid
// while neither side is cut, otherwise a side that stays uncut. A side needs to travel only the
// cluster's radius plus the largest sweep smear of the stretch (a still object's own edge stays at
// its edge but for the smear a turn puts into each scan), and, in a cluster larger than a person,
// the opposite side, where it too is the body's own, must go along by at least half as far (a
// walker still joined to the desk it set off from moves one end only).
//
// Ownership: plain values; not thread-safe, one tracker per camera used from one thread.
class ClusterMotionTracker {
 public:
  struct Settings {
    float min_step{0.04F};   // metres per frame
    float gate_step{0.35F};  // metres per frame
    int window{10};          // frames
    float max_radius{1.0F};  // metres; larger clusters are structure and are not followed
  };

  explicit ClusterMotionTracker(const Settings& settings);

  // Forgets every track (after a relocalisation, when earlier poses no longer fit).
  void clear();
  // Starts frame `frame` (increasing by one per frame); tracks not seen for a while are dropped.
  void beginFrame(std::uint64_t frame);
  // Where a cluster is, by three references in the map frame: its centroid and its two side
  // boundaries (as the camera sees them). A side cut off (by the image's edge or by something in
  // front) is no boundary of the body, and the centroid of a cut cluster is not its centre; a
  // stretch of observations is judged by a reference that is sound in all of them, so a body that
  // becomes cut on one side is followed on by its other side without a jump.
  //
  // A fourth reference, the boundary a person-sized cluster turns to the sensor, serves one that
  // reaches the far edge of the region the detector is handed (someone walking in from beyond
  // it): the region cuts off its far part, so neither its centroid nor its side boundaries are its
  // own, but its near side is, and it stays so once the whole body is in. A walker coming towards
  // the robot is followed from the moment they enter, and needs to cover only the radius and the
  // smear by it, as by a side. So is a person-sized cluster cut on one side by the image's edge
  // (someone walking along the border between two cameras), but only for its motion along the
  // line of sight: across it, the near side of a still object slides with the cut.
  enum Reference : int { kCentre = 0, kLeftSide = 1, kRightSide = 2, kNearSide = 3 };
  static constexpr int kReferences = 4;
  // Clusters up to this horizontal radius are person-sized: they may change size freely (a
  // person's legs and body join and part), and hold no furniture beside the body.
  static constexpr float kPersonRadius = 0.3F;
  struct Observation {
    std::array<Eigen::Vector2f, 3> at;  // by Reference, up to kRightSide
    bool cut_left{false};
    bool cut_right{false};
    // Whether the cluster reaches the region's edge, which cuts off its far part.
    bool cut_far{false};
    // The boundary facing the sensor, when known (`has_near_side`), and the unit direction from
    // the sensor to it.
    Eigen::Vector2f near_side{Eigen::Vector2f::Zero()};
    bool has_near_side{false};
    Eigen::Vector2f sight{Eigen::Vector2f::Zero()};
    float radius{0.0F};  // horizontal, from the centroid
    // How far the robot's motion during the sweep may have shifted the cluster's points from
    // where they were measured relative to each other (the scan is not motion-compensated).
    float smear{0.0F};
    // Whether `at` holds the side boundaries; without them the track goes by the centre only.
    bool has_sides{true};
  };

  // Records a cluster of the current frame; returns whether its track travels.
  bool observe(const Observation& observation);
  // The same for a cluster cut on neither side, at `centroid`, whose sides are not known.
  bool observe(const Eigen::Vector2f& centroid, float radius);

  std::size_t trackCount() const { return tracks_.size(); }

 private:
  struct Sample {
    std::uint64_t frame;
    std::array<Eigen::Vector2f, kReferences> at;
    std::array<bool, kReferences> sound;  // whether each reference is the body's own
    float radius;
    float smear;
    // Cut on one side while its near side is followed: that side then moves only along `sight`.
    bool near_only_radial;
    Eigen::Vector2f sight;
  };
  struct Track {
    std::vector<Sample> samples;  // oldest first, at most window_ entries
    // The reference by which the track travelled at its latest observation, -1 when it did not,
    // and the largest radius of the last stretch that showed it travel.
    int travelling_by{-1};
    float travelling_radius{0.0F};
  };
  // The reference by which a stretch of the track's window shows it travel, -1 for none; sets
  // `stretch_radius` to that stretch's largest radius.
  int travellingStretch(const Track& track, float& stretch_radius) const;
  // Whether the track, travelling by `reference` before its latest observation, kept moving at
  // the pace since.
  bool keepsPace(const Track& track, int reference) const;
  // Whether the last three of `samples` (at least three) are sound by `reference` and the last
  // two steps together keep the pace.
  bool pacedOverLastTwo(const std::vector<Sample>& samples, int reference) const;
  // Whether the near side's travel from `samples[first]` to the last runs along the line of sight,
  // where a sample of it was cut on one side (always true for the other references).
  static bool alongSight(const std::vector<Sample>& samples, std::size_t first, int reference);
  // Whether the `step` from `from` to `to` stays within the body's size per frame: a longer one
  // jumps between fragments (of a wall seen in pieces).
  static bool withinReach(const Sample& from, const Sample& to, float step);

  Settings settings_;
  std::uint64_t frame_{0};
  std::vector<Track> tracks_;
};

}  // namespace perception
}  // namespace norvel
