// Ground segmentation by line fits along azimuth segments.
#pragma once

#include <norvel/perception/ground_removal_params.hpp>
#include <norvel/perception/point_cloud_types.hpp>

#include <utility>
#include <vector>

namespace norvel {
namespace perception {

// Separates floor points from obstacle points of a cloud in the robot base frame (z up, floor
// near z = 0).
//
// Method: the horizontal plane around the frame origin is cut into azimuth segments of
// segmentation_angular_resolution radians; within point_cloud_min_range .. point_cloud_max_range
// each segment is cut into range bins of segmentation_bin_len. The lowest point of every bin is a
// candidate. Walking outwards along each segment, candidates are joined into ground lines
// (height as a linear function of range) by least squares, under these rules:
//  - a line starts only within max_height_diff_for_start_up above / _down below its reference
//    (the floor plane z = 0 for the first line, the previous line's height after that);
//  - a candidate extends the line when it lies within max_dist_point_groundline of the line's
//    prediction, or, across a range gap longer than long_threshold, within
//    max_height_diff_for_front of the line's front point; higher candidates are obstacle bottoms
//    and are skipped; a lone candidate more than noise_nsigma residuals below is noise and
//    skipped; a lower candidate that is not noise is a step down: the line is closed there;
//  - a line whose slope magnitude would exceed max_slope or whose root-mean-square residual would
//    exceed max_lsq_residual is closed, and a new line may start at the candidate; slopes below
//    min_slope are levelled.
// Every point is then compared with its segment's local ground height g(range): the line that
// covers the range (within one bin), linear interpolation across gaps between lines, beyond the
// last line that line carried on from its end (this covers points beyond point_cloud_max_range),
// and nearer than the first line a linear blend from z = 0 at the frame
// origin (the floor under the robot) to the first line's start (this covers points inside
// point_cloud_min_range). The last line is carried on with its slope only when the rise over its
// span is at least four times its RMS residual and its far half has the same slope within half of
// it (a ramp or a tilted floor); otherwise level from its end, since a slope from the lowest-return
// bias or from a mat's edge near the line's end, carried metres on, would lift the floor over the
// feet of walls standing there. A point is ground when z - g is at most the tolerance:
// z_distance_need_remove inside x_distance_need_preprocess, max_dist_point_groundline elsewhere,
// or cam_height against the floor plane in a segment without any line. Points below the local
// ground are ground too (floor noise is not an obstacle). Points with a non-finite coordinate go
// to neither output; each call that meets some logs how many.
//
// Vertical structures: a lidar ring that meets a wall or a piece of furniture close to its foot
// returns points only centimetres above the floor, within the ground tolerance, and such points
// would also lift the ground line onto the wall's base. Height alone cannot tell them from floor;
// what can is that more returns of the same face stand right above them. So, on a horizontal grid
// of 3 cm cells (points within 20 m of the origin and not above max_obstacle_height), a point
// stands on a vertical structure when a cell of its 3 x 3 neighbourhood holds a lowest point no
// more than 1.5 cm above it and, within 0.25 m above that lowest point, a point more than
// max_dist_point_groundline above it, and the face those rising points stand on comes within
// 2.5 cm of it horizontally (the cells alone would reach 4.5 cm and more, taking the floor along
// a wall's foot, which rings at a grazing angle sample densely, for the wall). The face is the
// mean of the rising points, taken along the line of sight over the cell and its two neighbours:
// range noise scatters a face's returns a centimetre or two either side of it, and the nearest
// of them would move the face towards the sensor. Such points are
// obstacles and never ground-line candidates. An overhang (a seat or table top) over open floor
// does not count: its lowest point is far above the floor under it. Floor within about 2.5 cm of
// a wall's face may come out as obstacle. A point more than 1.5 cm (the floor's noise) above its
// local ground is not floor at floor height, and needs less: a neighbouring stack that rises
// above it within 0.25 m, wherever that stack starts, with its face within 5 cm. A sparse
// pattern looking down puts one return on a wall's foot and the wall's next ones 20 cm higher and
// a few centimetres to the side, where no stack starts at the foot return's own height.
//
// Ownership and threading: the remover owns scratch buffers sized on first use and reused by
// later calls, so removeGround is not reentrant: use one instance per thread.
class RemoveGroundLineFit {
 public:
  // Throws std::invalid_argument naming the first value out of its domain (non-finite values,
  // resolution or bin length <= 0, max range <= min range, negative tolerances or noise_nsigma).
  explicit RemoveGroundLineFit(const GroundRemovalParams& params);
  virtual ~RemoveGroundLineFit() = default;

  RemoveGroundLineFit(const RemoveGroundLineFit&) = delete;
  RemoveGroundLineFit& operator=(const RemoveGroundLineFit&) = delete;

  // Appends every finite point of `in` to `obstacles` or to `ground` (input order is kept in
  // each) and sets their width to their size and height to 1. The outputs are normally passed
  // empty. A null pointer is logged and the call does nothing.
  virtual void removeGround(PointCloudPtr in, PointCloudPtr obstacles, PointCloudPtr ground);

  // Replaces the settings for the following calls; throws like the constructor and keeps the
  // old settings on error. The node's run-time parameter updates take effect through this.
  void setParams(const GroundRemovalParams& params);
  const GroundRemovalParams& params() const { return params_; }

 private:
  // One fitted piece of a segment's ground profile: z = intercept + slope * range over
  // [range_begin, range_end].
  struct GroundLine {
    float range_begin;
    float range_end;
    float slope;
    float intercept;
    float onward_slope;  // slope carried beyond range_end when this is a segment's last line
    float heightAt(float range) const { return intercept + slope * range; }
  };

  // Fills the vertical-structure grid for `points` (see the class comment); onStack then tells
  // whether point `point` at height `z` stands at the foot of, or on, such a structure, by the
  // looser test when it is `lifted` above the floor's noise.
  void buildStackGrid(const PointCloud::VectorType& points);
  bool onStack(std::size_t point, const pcl::PointXYZ& p, bool lifted) const;
  void fitSegmentLines(int segment);
  float groundHeight(int segment, float range, bool& has_line) const;

  GroundRemovalParams params_;
  int segment_count_{0};
  int bin_count_{0};

  // Per input point, reused across calls: segment index (-1 for non-finite) and range.
  std::vector<int> point_segment_;
  std::vector<float> point_range_;
  // Per bin (segment-major), reused across calls: lowest height and its range (NaN when empty).
  std::vector<float> bin_lowest_z_;
  std::vector<float> bin_lowest_range_;
  std::vector<int> bin_lowest_point_;
  // Ground lines of all segments, segment after segment; lines of segment s are
  // lines_[segment_line_begin_[s] .. segment_line_begin_[s + 1]).
  std::vector<GroundLine> lines_;
  std::vector<std::pair<float, float>> line_candidates_;  // (range, z) of the line being fitted
  std::vector<int> segment_line_begin_;
  // Vertical-structure grid, reused across calls: per point its cell (-1 when not covered) and
  // cell coordinates; per cell the lowest height, the top of the stack rising from it, the
  // horizontal sum and count of its rising points (those more than max_dist_point_groundline -
  // 1.5 cm above the lowest) and, for a cell that rises, where its face stands (see
  // buildStackGrid).
  std::vector<int> point_stack_cell_;
  std::vector<int> stack_column_;
  std::vector<int> stack_row_;
  int stack_columns_{0};
  struct StackCell {
    float bottom;
    float top;
    float rise_sum_x;
    float rise_sum_y;
    float rise_count;
    float face_x;
    float face_y;
  };
  std::vector<StackCell> stack_cells_;
  // Per cell: whether a cell of its 3 x 3 neighbourhood rises enough to hold a stack.
  std::vector<unsigned char> near_stack_;
};

}  // namespace perception
}  // namespace norvel
