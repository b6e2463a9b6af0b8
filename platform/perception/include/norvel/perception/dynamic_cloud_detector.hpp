// Per-camera motion detector: tells moving obstacle points from static ones.
#pragma once

#include <norvel/perception/camera_info.hpp>
#include <norvel/perception/cluster_motion_tracker.hpp>
#include <norvel/perception/dynamic_cloud_detector_config.hpp>
#include <norvel/perception/point_cloud_types.hpp>

#include <Eigen/Core>
#include <Eigen/StdVector>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace norvel {
namespace perception {

// Keeps a short history of one virtual camera's obstacle frames as depth images, each with the
// camera's pose in the map frame, and calls a current obstacle point dynamic when earlier frames
// saw free space through the place where it is now.
//
// For each current point and each earlier frame old enough (min_frame_age), the point is moved
// into that frame's camera through the map frame and projected into its depth image (the camera's
// pinhole model, resampled to pixel_angle_deg pixels, each holding the nearest return of its 3x3
// neighbourhood). The earlier frame votes "free" when everything it saw around that direction was
// farther than the point by more than the depth margin (depth_margin, plus an allowance for a
// surface seen at a slant: up to depth_margin_per_metre times the distance, less where the
// earlier image shows a surface facing the sensor there), or when it saw nothing there (nor, in the
// pixels just above and below, anything up to that depth: sparse scan patterns leave holes)
// although the direction lay inside the sensor's elevation limits and the point inside that
// frame's region of interest. A return near the point's depth (seen before: static) or in front of
// it (occluded: unknown) gives no free vote, nor does a direction outside the earlier image. A
// point is dynamic with at least min_free_votes free votes. Newly visible or briefly occluded
// structure therefore stays static: no earlier frame saw through it.
//
// The reverse question catches what walks straight away: its earlier places lie in front of its
// current one along the line of sight, so earlier frames only ever hid it. A point is moved away
// when earlier frames saw a return in front of it whose gap to it grows in proportion to the
// frame's age (a least-squares line through the origin-near gaps, at least recession_min_step per
// frame) and the current frame sees through the places of those returns. Structure revealed by
// something stepping aside has a constant gap, and a static occluder is still seen where it was.
// Someone who stood and then walked away within the compared frames leaves a bent line: gaps that
// grow from about zero over the frames since they set off (the youngest of which still see the
// point within the margin) and stay at the length walked in the frames from before. That line,
// fitted with its bend at one of the hiding frames' ages, is asked as well, so that such a walker
// counts as moved once the gap passes the margin rather than once the whole window has seen it
// walk. The side of a body walking off across the line of sight, just in front of a surface, can
// make the same bent line on the surface it reveals, so this evidence counts only within a
// body-sized cluster (and not in isDynamic, which sees no cluster).
//
// Given the floor the ground remover took out, the detector also keeps it as an image of its own:
// a floor return behind a place, seen around the same direction with no obstacle in front of it,
// shows that the ray passed there. It counts as a free vote (and, for the reverse question, as
// the place seen through now) where an empty pixel cannot: across the space above the height cut
// that a high mount's rays cross, and at the edges of the view. It never counts as a surface seen
// at a point's depth: the floor at a walker's feet is not the walker.
//
// Clusters are also followed from frame to frame (ClusterMotionTracker): a cluster whose track
// travels moves as a body, and all its points (from min_point_height up) are called moved, also
// where their own evidence is the body's earlier self. This is what sees a walker from a high
// mount, where the floor behind it is removed and its earlier places look empty. A cluster cut by
// the region's edge is not followed, and one cut by both of the image's side edges never
// travels: its centre moves with the cut. One cut by a single side edge (straddling the border to
// the neighbouring camera) is followed by its side away from that edge, which moves only with the
// body. A side that borders, in the current image, a return nearer than the side's own point
// counts as cut too: a walker passing behind a pillar is followed by its other side, and a sliver
// of wall between the image's edge and a passer-by's shadow, cut on both sides, never travels.
//
// Emptiness is judged only at elevations the sensor demonstrably covers: besides the configured
// limits, the detector counts the returns it receives per elevation (in the lidar-fixed camera
// frame) and takes the band between the lowest and highest well-populated elevations as the
// sensor's view on its mount; a flipped or high mount, or a sensor with a narrower field than
// configured, thus never lends unobserved directions the look of free space.
//
// Scans are not motion-compensated: each is smeared by the robot's motion while it was taken,
// taken to be the pose change since the previous Update. Where two compared scans were smeared
// differently (the robot started, stopped or changed its turn in between), the earlier depth
// image is widened in azimuth by the difference and its region of interest shrunk by both
// smears, so that static edges do not look like free space.
//
// Cameras side by side share their pasts (ShareHistoryWith): where a place lies outside an
// earlier frame of this camera, the same frame of another camera is asked. A walker who has just
// crossed into this camera's view, or a place the robot has turned towards, was seen by the
// neighbouring camera; each camera's own history alone would know nothing about it there. A
// spinning sensor sweeps the cameras' sectors at different times, so two cameras' scans are
// smeared differently even in a steady turn: another camera's frame is read as widened by up to
// a whole sweep's motion. The reverse question asks this camera's own frames only: it looks for
// the vacated places in this camera's current image.
//
// Usage per frame: Update with the camera's obstacle cloud and the robot pose, then DivideCloud
// for each cluster of that cloud; with shared histories, Update every camera's detector before
// DivideCloud on any. Ownership: the detector owns its history (allocated in Init and reused) and
// holds the others weakly. Not thread-safe, one instance per camera used from one thread; while
// no Update runs, the detectors that share their histories may run DivideCloud on threads of
// their own (they only read each other's history).
class DynamicCloudDetector {
 public:
  // Reads the settings from `yaml_path` (see DynamicCloudDetectorConfig); a missing or broken
  // file is logged and thrown as std::runtime_error naming the file and what was wrong.
  explicit DynamicCloudDetector(std::string yaml_path);
  // Same, with the node's region and view limits in place of the file's (see
  // DynamicCloudDetectorConfig::NodeLimits); throws std::invalid_argument for unusable limits.
  DynamicCloudDetector(std::string yaml_path, const DynamicCloudDetectorConfig::NodeLimits& limits);

  // Sizes the depth images for `camera`. Returns false, with an error line, when the size or the
  // intrinsics are unusable (non-positive, non-finite) or the pose is not finite; the detector
  // then calls every point static.
  bool Init(const CameraInfo& camera);

  // Adds a frame: `cloud` holds this camera's obstacle points in the base frame (null or empty
  // means the camera saw no obstacle), `T_base2map` the robot pose. `flag` true clears the
  // history first (use after a relocalisation, when earlier poses no longer fit). Later
  // DivideCloud calls compare against the frames before this one, seen from this pose. A
  // non-finite pose is logged and the frame ignored. `floor`, optional, holds the same camera's
  // ground points: where a frame's rays reached the floor behind a place, nothing stood there
  // (see the class comment); without it only obstacles behind a place and empty pixels tell.
  void Update(pcl::PointCloud<pcl::PointXYZ>::ConstPtr cloud, const Eigen::Matrix4f& T_base2map,
              bool flag, pcl::PointCloud<pcl::PointXYZ>::ConstPtr floor = nullptr);

  // Appends each point of `cluster` (base frame, from the latest Update's cloud) to `dynamic` or
  // to `static_cloud`, keeping order; non-finite points go to `static_cloud`.
  void DivideCloud(const pcl::PointCloud<pcl::PointXYZ>& cluster,
                   pcl::PointCloud<pcl::PointXYZ>& dynamic,
                   pcl::PointCloud<pcl::PointXYZ>& static_cloud);

  // Whether a base-frame point of the latest frame is dynamic by the rule above.
  bool isDynamic(const pcl::PointXYZ& point) const;

  // The other cameras' detectors of the same sensor, updated with the same frames: a place outside
  // one of this camera's compared frames is judged in theirs of the same age (see the class
  // comment). Held weakly; this detector itself, if among them, is skipped. A detector not
  // updated up to the same frame and pose when DivideCloud runs is not asked.
  void ShareHistoryWith(const std::vector<std::shared_ptr<DynamicCloudDetector>>& others);

  const DynamicCloudDetectorConfig& config() const { return config_; }
  bool initialized() const { return initialized_; }

 private:
  // One earlier frame: its depth image and the transform from the map into its camera frame.
  struct HistoryFrame {
    std::vector<float> nearest_depth;
    // The floor returns the same way (3x3 nearest), empty when no floor was handed over.
    std::vector<float> floor_depth;
    Eigen::Matrix4f map_to_camera{Eigen::Matrix4f::Identity()};
    Eigen::Matrix4f map_to_base{Eigen::Matrix4f::Identity()};
    std::uint64_t sequence{0};
    // The robot's motion since the previous update, in that previous base frame: what the scan
    // was smeared by (see Update).
    float yaw_step{0.0F};
    Eigen::Vector3f translation_step{Eigen::Vector3f::Zero()};
  };

  // What the compared frames say about a current point: earlier frames saw free space through
  // it (moved; by emptiness alone when a patchy sensor saw nothing there more often than
  // something; set off when its gaps make the bent line of someone walking away from where they
  // stood), saw a surface at its depth (stayed), or neither (unknown: occluded, out of view, too
  // few frames).
  enum class Evidence : unsigned char { kMoved, kMovedByEmptiness, kSetOff, kStayed, kUnknown };
  // The detectors whose histories are asked for this frame (see ShareHistoryWith).
  using Sharing = std::vector<std::shared_ptr<const DynamicCloudDetector>>;
  // `ask_set_off`: whether the bent line is asked at all (it counts only in a body-sized cluster).
  Evidence evidenceFor(const pcl::PointXYZ& point, bool ask_set_off, const Sharing& sharing) const;
  // The shared detectors updated up to this one's frame and pose.
  Sharing currentSharing() const;
  // A compared frame that hid a point: its index, the point in its camera and at what distance,
  // the hiding return's distance and the depth margin there.
  struct HiddenBy {
    std::size_t frame;
    Eigen::Vector3f q;
    float distance;
    float nearest;
    float margin;
  };
  // What one compared frame says about a point: nothing (out of its view, or no telling), free
  // space through it (counted as such, or weighed as a patchy sensor's emptiness), or a return at
  // its depth or in front of it.
  struct FrameVote {
    enum class Kind : unsigned char { kOutOfView, kNone, kFree, kEmpty, kSeen, kHidden };
    Kind kind{Kind::kOutOfView};
    HiddenBy by{};
  };
  // Compared frame `frame`'s vote on the current base-frame point `p`; `for_other` when `p` is
  // another camera's point (see compared_other_spread_).
  FrameVote voteOf(std::size_t frame, const Eigen::Vector4f& p, bool for_other) const;
  // The vote of the first shared detector whose compared frame of age `age` has `p` in view.
  static FrameVote sharedVote(const Sharing& sharing, float age, const Eigen::Vector4f& p);
  // A cluster's finite points: how many, their centroid and horizontal bounding box.
  struct ClusterShape {
    std::size_t count{0};
    Eigen::Vector3f centroid{Eigen::Vector3f::Zero()};
    Eigen::Vector2f low{Eigen::Vector2f::Constant(std::numeric_limits<float>::max())};
    Eigen::Vector2f high{Eigen::Vector2f::Constant(std::numeric_limits<float>::lowest())};
  };
  static ClusterShape measureCluster(const pcl::PointCloud<pcl::PointXYZ>& cluster);
  // Whether `cluster`'s track travels (see ClusterMotionTracker); see the class comment for
  // clusters cut by the region's or the image's edges.
  bool clusterTravels(const pcl::PointCloud<pcl::PointXYZ>& cluster, const ClusterShape& shape);
  // Turns the unknown points of `cluster` within spread_radius of a moved point (kMoved) into
  // moved ones (evidence_ holds the cluster's evidence).
  void spreadMotion(const pcl::PointCloud<pcl::PointXYZ>& cluster);
  // Renders `cloud` into raw_depth_, the nearest return per pixel; with `count_elevations` its
  // returns also teach the judged view (see recordElevation).
  void projectNearest(const pcl::PointCloud<pcl::PointXYZ>& cloud, bool count_elevations);
  // Writes raw_depth_'s 3x3 neighbourhood minimum into `image`.
  void spreadNearest(std::vector<float>& image);
  // Whether `frame`'s return at `nearest` in front of `point` (in that frame's camera: `q`, at
  // `distance`) is seen through by the current frame, `margin` deep.
  bool vacatedNow(std::size_t frame, const Eigen::Vector3f& q, float distance, float nearest,
                  float margin) const;
  // The reverse question (see the class comment) over the `count` frames that hid a point and the
  // `seen_count` frames that saw a return within the depth margin in front of it, though not at
  // the point's own depth, the oldest frame within the margin being `oldest_seen_age` updates old.
  // Moved (a straight line), set off (a bent one, asked only with `ask_set_off`: in a body-sized
  // cluster, where no frame saw the point's own surface) or unknown.
  Evidence movesAway(const HiddenBy* hidden, std::size_t count, const HiddenBy* seen,
                     std::size_t seen_count, bool ask_set_off, float oldest_seen_age) const;
  // Whether the ray from the sensor to a point (base frame of the compared frame) runs inside the
  // kept height band but for a short stretch next to the sensor. From a sensor mounted above the
  // height cut, rays down to the band first cross the space above it, whose returns (a person's
  // torso beside the robot, a table top) are cut away: an empty pixel there may be such an
  // occluder's shadow rather than free space.
  bool rayStaysInBand(const Eigen::Vector3f& point_in_base) const;
  // Whether compared frame `frame` saw the floor beyond `beyond` around `pixel`, and no obstacle
  // at or before it in the lines just above and below.
  bool floorSeenBeyond(std::size_t frame, int pixel, float beyond, int half_width) const;
  // Counts the returns of a frame per elevation and narrows the judged view to the band the
  // sensor covers (see the class comment).
  void recordElevation(float tan_elevation);
  void updateObservedView();
  // Measures how often the scan pattern leaves gaps inside its own rows (see
  // emptiness_is_evidence_).
  void measureScanGaps();
  // Writes into `out` the minimum of `in` over a horizontal window of +-radius pixels.
  void horizontalMin(const std::vector<float>& in, int radius, std::vector<float>& out);
  // Defined here: it runs for every point and compared frame, and must inline.
  bool projectToPixel(const Eigen::Vector3f& q, int& pixel) const {
    if (!(q.z() > 0.0F)) {
      return false;
    }
    const float inverse_depth = 1.0F / q.z();
    const float u = fx_ * q.x() * inverse_depth + cx_;
    const float v = fy_ * q.y() * inverse_depth + cy_;
    if (!(u >= 0.0F && v >= 0.0F && u < static_cast<float>(image_width_) &&
          v < static_cast<float>(image_height_))) {
      return false;
    }
    pixel = static_cast<int>(v) * image_width_ + static_cast<int>(u);
    return true;
  }
  // The allowance of the depth margin for a slanted surface at `pixel` of `depth` (see the
  // definition).
  float slantAllowance(const std::vector<float>& depth, int pixel) const;
  // Whether the pixels directly above and below `pixel` in `depth` hold no return at or before
  // `beyond`; the rows asked are those whose rays pass the point (base height `height`, `q` in
  // that frame's camera, `horizontal` its distance off the camera's vertical axis) inside the
  // judged view and the kept height band.
  bool nothingNearAround(const std::vector<float>& depth, int pixel, float beyond, float height,
                         const Eigen::Vector3f& q, float horizontal, int half_width) const;
  // Whether the pixels of `depth` in `pixel`'s column and `half_width` columns either side, from
  // `first` to `last` rows off it (clipped to the image), hold no return at or before `beyond`.
  bool columnClear(const std::vector<float>& depth, int pixel, int first, int last, float beyond,
                   int half_width) const;

  std::string yaml_path_;
  DynamicCloudDetectorConfig config_;
  bool initialized_{false};
  int camera_index_{0};

  // Depth-image geometry: the camera's pinhole model scaled to image_width_ x image_height_.
  int image_width_{0};
  int image_height_{0};
  float fx_{0.0F};
  float fy_{0.0F};
  float cx_{0.0F};
  float cy_{0.0F};
  float tan_min_elevation_{0.0F};
  float tan_max_elevation_{0.0F};
  // Returns received per elevation bin (uniform in the tangent of the elevation), and the view
  // judged from them and the configured limits; empty (min > max) until enough returns came.
  std::vector<std::uint32_t> elevation_counts_;
  float judged_tan_min_{1.0F};
  float judged_tan_max_{-1.0F};
  // Decaying counts of raw pixels between two returns of their row, and of those left empty. An
  // empty pixel is full evidence of free space only while such gaps are rare (a sensor that
  // sweeps rows); for a pattern that leaves patches unscanned in every frame, it must be backed by
  // most of the compared frames (see evidenceFor).
  double scan_pixels_between_{0.0};
  double scan_gaps_{0.0};
  bool emptiness_is_evidence_{false};
  Eigen::Matrix4f base_to_camera_{Eigen::Matrix4f::Identity()};
  // Base height gained per unit of camera y (the image's row direction): the mount's tilt.
  float camera_up_z_{1.0F};
  // Where the sensor sits in the base frame (the camera's origin).
  Eigen::Vector3f sensor_position_{Eigen::Vector3f::Zero()};

  // Ring of history frames; next_slot_ is overwritten by the next Update.
  std::vector<HistoryFrame, Eigen::aligned_allocator<HistoryFrame>> history_;
  std::size_t next_slot_{0};
  std::uint64_t frames_seen_{0};
  std::vector<float> raw_depth_;
  // The raw image's minimum across each row's 3 pixels (see spreadNearest).
  std::vector<float> row_min_;
  // Per compared history frame, refreshed by Update: current base frame -> that camera, and
  // current base -> that frame's base (for its region of interest).
  std::vector<Eigen::Matrix4f, Eigen::aligned_allocator<Eigen::Matrix4f>> current_to_camera_;
  std::vector<Eigen::Matrix4f, Eigen::aligned_allocator<Eigen::Matrix4f>> current_to_old_base_;
  std::vector<const HistoryFrame*> compared_frames_;
  // Per compared frame: its age in updates, and its camera -> the current camera.
  std::vector<float> compared_age_;
  std::vector<Eigen::Matrix4f, Eigen::aligned_allocator<Eigen::Matrix4f>> old_to_current_camera_;
  // The slot holding the current frame's image.
  std::size_t current_slot_{0};
  // Per compared frame: the depth image to compare against (the frame's own, or a copy widened
  // in azimuth by the smear mismatch, see Update) and the extra region-of-interest margin,
  // metres plus metres per metre of range.
  std::vector<const std::vector<float>*> compared_depth_;
  std::vector<float> compared_roi_margin_;
  std::vector<float> compared_roi_margin_per_metre_;
  // Per compared frame: the columns either side that also stand for a point's direction when the
  // point is another camera's. A spinning sensor takes the cameras' sectors at different times
  // of its sweep, so their smears differ even where the robot turned steadily; the frame's own
  // widening covers only the difference between equal times of two sweeps.
  std::vector<int> compared_other_spread_;
  std::vector<std::vector<float>> widened_depth_;
  // Per history slot: which frame (its sequence) its widened image holds, widened by how many
  // columns; sequence 0 for none.
  struct WidenedFor {
    std::uint64_t sequence{0};
    int radius{0};
  };
  std::vector<WidenedFor> widened_for_;
  // horizontalMin scratch: a row's block suffixes and prefixes, and per column the two entries
  // whose minimum is its window.
  std::vector<float> block_runs_;
  std::vector<int> window_first_;
  std::vector<int> window_second_;
  // DivideCloud scratch: per cluster point its evidence; the spreading grid's bucket lists of
  // moved points.
  std::vector<Evidence> evidence_;
  // Open-addressing table of the cluster's voxels (key 0: free) and their evidence.
  std::vector<std::uint64_t> voxel_keys_;
  std::vector<Evidence> voxel_evidence_;
  std::vector<int> spread_first_;
  std::vector<int> spread_next_;
  // Pose of the previous update, for the smear of the next scan and the clusters' map positions.
  bool has_previous_pose_{false};
  Eigen::Matrix4f previous_base_to_map_{Eigen::Matrix4f::Identity()};
  ClusterMotionTracker tracker_{ClusterMotionTracker::Settings{}};
  // The other cameras' detectors (see ShareHistoryWith).
  std::vector<std::weak_ptr<const DynamicCloudDetector>> shared_with_;
};

}  // namespace perception
}  // namespace norvel
