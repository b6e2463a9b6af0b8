// Settings of the line-fit ground remover.
#pragma once

namespace norvel {
namespace perception {

// The 18 ground-removal values, in the order the node reads and stores them (noise_nsigma last).
// All lengths are metres in the frame of the cloud handed to the remover (the robot base frame:
// z up, floor at z = 0); "range" is the horizontal distance sqrt(x^2 + y^2) from the frame origin.
// A plain aggregate: the node fills it field by field, RemoveGroundLineFit validates it.
struct GroundRemovalParams {
  // Width of one azimuth segment, radians (0.2 rad is about 11.5 degrees). Each segment gets its
  // own sequence of ground lines along range.
  float segmentation_angular_resolution{0.2F};
  // Outer range limit of the binned, line-fitted region. Points beyond it are classified against
  // their segment's last ground line, extended with its slope (see RemoveGroundLineFit).
  float point_cloud_max_range{2.0F};
  // Inner range limit of the binned, line-fitted region. Points nearer than it are classified
  // against the floor plane z = 0 under the robot (see RemoveGroundLineFit).
  float point_cloud_min_range{0.45F};
  // Length of one range bin; the lowest point of each bin is a ground-line candidate.
  float segmentation_bin_len{0.05F};
  // Flat-floor tolerance: in a segment where no ground line could be fitted, a point is ground
  // when it lies at most this far above the floor plane z = 0.
  float cam_height{0.05F};
  // Largest root-mean-square vertical residual of a ground line's points; a candidate that would
  // push the fit beyond it closes the line.
  float max_lsq_residual{0.15F};
  // Slopes (dz per metre of range) smaller in magnitude than this are taken as level: the line is
  // replaced by a horizontal one through its mean height. 0 keeps every fitted slope.
  float min_slope{0.0F};
  // Largest slope magnitude (dz per metre of range) of a ground line; steeper is not floor.
  float max_slope{0.2F};
  // A ground line may start at most this far above the reference height (the floor plane z = 0
  // for a segment's first line, the previous line's height for later ones).
  float max_height_diff_for_start_up{0.05F};
  // A ground line may start at most this far below the reference height (steps down, ramps).
  float max_height_diff_for_start_down{0.13F};
  // A point within this vertical distance above its segment's local ground line is ground; also
  // the largest deviation of a candidate from the line's prediction for it to extend the line.
  float max_dist_point_groundline{0.045F};
  // Range gap between a line's last point and the next candidate beyond which the long-distance
  // rule below replaces the prediction test (gaps are shadows behind obstacles).
  float long_threshold{0.2F};
  // Long-distance rule: across a gap longer than long_threshold a candidate extends the line only
  // when its height differs by at most this much from the height of the line's front (last) point.
  float max_height_diff_for_front{0.04F};
  // Radius of the near field around the robot (horizontal range, not x alone, so that every
  // camera is treated alike). Inside it the tolerance below replaces max_dist_point_groundline.
  float x_distance_need_preprocess{1.0F};
  // Near-field tolerance: within x_distance_need_preprocess a point at most this far above the
  // local ground is ground (near the robot the floor is seen steeply and noisily).
  float z_distance_need_remove{0.05F};
  // Points higher than this above the floor plane z = 0 are never ground candidates; they are
  // always obstacles. Also the node's region-of-interest height cut.
  float max_obstacle_height{0.666F};
  // Thinning distance: a bin's lowest point closer than this (in range) to the previous accepted
  // candidate of its line is skipped, so that nearly coincident points do not set the slope.
  float diluting_threshold{0.03F};
  // Outlier rule: a candidate more than noise_nsigma standard deviations (the line's residual,
  // at least 5 mm) below the line's prediction, while the next candidate lies on the line again,
  // is a lone spurious return (multipath, reflections): it neither extends nor breaks the line.
  // Points below the local ground are classified as ground, never as obstacles.
  float noise_nsigma{4.0F};
};

static_assert(sizeof(GroundRemovalParams) == 18 * sizeof(float),
              "GroundRemovalParams must be exactly the 18 floats, in table order");

}  // namespace perception
}  // namespace norvel
