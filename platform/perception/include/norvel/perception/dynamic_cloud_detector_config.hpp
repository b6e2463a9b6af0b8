// Settings of the dynamic cloud detector, read from its YAML file.
#pragma once

#include <optional>
#include <string>

namespace norvel {
namespace perception {

// Values of "dynamic_cloud_detector.yaml" (all under its top-level key "dynamic_cloud_detector").
// Lengths in metres, angles in degrees.
struct DynamicCloudDetectorConfig {
  // Number of earlier frames kept for comparison (>= 1).
  int history_frames{10};
  // Only frames at least this many updates older than the current one are compared (>= 1): the
  // most recent frames show a slow mover almost where it is now.
  int min_frame_age{2};
  // Angular size of one depth-image pixel at the image centre (> 0).
  float pixel_angle_deg{1.0F};
  // Depth tolerance: an earlier return counts as "behind" a point only when it is farther by
  // more than depth_margin + depth_margin_per_metre * distance. Covers range noise, pixel size
  // and the smear of a scan taken while the robot moves. The per-metre part allows for a surface
  // seen at a slant; where the earlier image shows a surface facing the sensor, less is allowed
  // (see DynamicCloudDetector).
  float depth_margin{0.2F};
  float depth_margin_per_metre{0.05F};
  // A point is dynamic when at least this many compared frames saw free space through it (>= 1).
  int min_free_votes{2};
  // Within a cluster, a point no earlier frame could judge (occluded or out of view, e.g. a
  // person walking straight away, hidden behind where they were before) is dynamic when a point
  // called dynamic lies within this horizontal distance. Points that earlier frames saw at their
  // own depth (in at least min_free_votes frames, and in as many as hid them) stay static. 0
  // turns this off.
  float spread_radius{0.3F};
  // Something walking straight away from the sensor hides, in every earlier frame, the place
  // where it is now behind where it was then. A point counts as moved away when the earlier
  // frames saw a return in front of it whose distance to it grows with the frame's age by at
  // least this much per frame (0.03 m per frame is 0.3 m/s at 10 Hz), roughly in proportion to
  // the age, and the current frame sees through where those returns were. 0 turns this off.
  float recession_min_step{0.03F};
  // Clusters followed over time (see ClusterMotionTracker): a cluster of at most track_max_radius
  // metres (horizontally, from its centroid) whose centroid travels a steady course across the map
  // at track_min_step metres per frame or more within track_window frames (>= 4) moves as a body:
  // all its points from min_point_height up are dynamic. track_min_step 0 turns this off.
  float track_min_step{0.04F};
  int track_window{20};
  float track_max_radius{0.8F};
  // Points lower than this above the floor (base z) are never called dynamic: low returns flicker
  // between ground and obstacle and would otherwise look like motion.
  float min_point_height{0.08F};
  // Elevation limits of what the sensor sees, in the virtual camera frame (horizontal at 0 in
  // the lidar's own frame: the camera turns with the lidar's mount). A pixel outside them is
  // never observed, so its emptiness says nothing. They are an upper bound: the detector also
  // learns from the returns themselves which elevations the sensor actually covers on its mount
  // and only judges emptiness inside both.
  float sensor_min_elevation_deg{-7.0F};
  float sensor_max_elevation_deg{30.0F};
  // The region of interest the node keeps around the robot (|x| <= roi_x_max, |y| <= roi_y_max,
  // z <= roi_z_max in the base frame). Outside it an earlier frame saw nothing, so emptiness
  // there is not free space. roi_margin shrinks the region in x and y for that test
  // (the robot's motion during a scan blurs where that edge was).
  float roi_x_max{5.0F};
  float roi_y_max{5.0F};
  float roi_z_max{0.666F};
  float roi_margin{0.2F};

  // Values the node owns: its region of interest (x_large, y_large and the ground remover's
  // max_obstacle_height) and the upper edge of the lidar's view it keeps (the up-cone cut).
  // Handed over by the node, they replace the file's roi_x_max, roi_y_max, roi_z_max and
  // sensor_max_elevation_deg, so that the two can never disagree.
  struct NodeLimits {
    float roi_x_max{5.0F};
    float roi_y_max{5.0F};
    float roi_z_max{0.666F};
    // Empty: the file's value (the camera keeps the whole upper view).
    std::optional<float> sensor_max_elevation_deg;
  };

  // Reads the file; throws std::runtime_error naming the file and the missing or malformed key
  // or out-of-range value.
  static DynamicCloudDetectorConfig load(const std::string& yaml_path);

  // Takes over the node's values; throws std::invalid_argument naming the value when a region
  // size is not positive or the elevation is not above sensor_min_elevation_deg and below 90.
  void applyNodeLimits(const NodeLimits& limits);
};

}  // namespace perception
}  // namespace norvel
