// Euclidean-style clustering of obstacle points on a horizontal grid.
#pragma once

#include <norvel/perception/cloud_cluster_para.hpp>
#include <norvel/perception/point_cloud_types.hpp>

#include <Eigen/Core>
#include <Eigen/StdVector>

#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace norvel {
namespace perception {

// Groups the points of a cloud by their cell on a horizontal (x, y) grid of cluster_grid_step
// cells, whatever their heights: occupied cells within the cluster_grid_kernelSize neighbourhood
// of each other (see CloudClusterPara) form one cluster, with one exception that keeps a person
// apart from the wall, shelf or bench beside them. The kernel reaches up to twice its nominal gap
// (reach = kernelSize / 2 cells, diagonals included), so cells are first joined where their
// points lie within the nominal gap, reach * step in x and in y (measured on a grid of quarter
// cells): this forms the parts. Parts within the kernel of each other then join unless one is
// longer than 1 m across and the other not and lies beside it rather than on its centre line, or
// both are that long and run side by side (a shelf in front of a wall).
// Then leg-sized pieces near each other join while what they make stays body-sized (a person seen
// below the hips is two legs, which a stride parts by more than the kernel reaches; with a kernel
// of 1 no cells join and neither do these). Last, a long thin cluster joins the next cluster along
// its line (another long one, or a thin stretch on the line at least 0.5 m long) when the stretch
// between them is hidden from the base frame's origin by something nearer (the shadow of a person
// or a chair that cuts a wall into pieces), or is shorter than 0.5 m (a far wall sparsely
// scanned), and not seen through; joined lines search on from their new ends. Once the clusters
// stand, what stands within the gap in front of a wall (a person walking along it, a bin against
// it), and so joined it in the first round, is taken out again: the points of a wall-like cluster
// off its line on the side the base frame's origin looks from, grouped, each body-sized group a
// cluster of its own. Where what stands there is as large as a cabinet, its points pull the
// cluster's principal axis off the wall; the wall's line is then searched by direction instead, and
// groups up to a cabinet's size come out. Clusters with fewer than cluster_grid_th points are
// dropped.
//
// Order: clusters come out ordered by the input index of their first point, and the points of a
// cluster keep their input order, so equal inputs give equal outputs.
//
// Ownership and threading: the clusterer owns scratch buffers reused across calls, so
// obstacleCluster is not reentrant: use one instance per thread. Each output cluster is a new
// cloud owned by the caller.
class CloudCluster {
 public:
  // Throws std::invalid_argument when the step is not a finite value > 0 or the kernel size < 1.
  explicit CloudCluster(const CloudClusterPara& para);

  CloudCluster(const CloudCluster&) = delete;
  CloudCluster& operator=(const CloudCluster&) = delete;

  // Appends one cloud per cluster of `cloud` to `clusters` and sets `count` to the number
  // appended. Points with a non-finite coordinate belong to no cluster (logged with their count).
  // A null or empty cloud yields no cluster.
  void obstacleCluster(PointCloudPtr cloud, int& count, std::vector<PointCloudPtr>& clusters);

  const CloudClusterPara& para() const { return para_; }

 private:
  // A part's centre, principal axis and standard deviations along and across it.
  struct PartAxis {
    double mean_x{0.0};
    double mean_y{0.0};
    double dir_x{1.0};
    double dir_y{0.0};
    double major{0.0};
    double minor{0.0};
    // Offset of a point across the axis, signed by the side it lies on.
    double signedOffsetOf(double x, double y) const {
      return (x - mean_x) * dir_y - (y - mean_y) * dir_x;
    }
    // Distance of a point from the axis.
    double offsetOf(double x, double y) const {
      const double offset = signedOffsetOf(x, y);
      return offset < 0.0 ? -offset : offset;
    }
  };
  // Per part (by its root cell) its extent and moments over its occupied quarter cells, in
  // quarter cells.
  struct PartShape {
    std::int64_t low_x{std::numeric_limits<std::int64_t>::max()};
    std::int64_t low_y{std::numeric_limits<std::int64_t>::max()};
    std::int64_t high_x{std::numeric_limits<std::int64_t>::lowest()};
    std::int64_t high_y{std::numeric_limits<std::int64_t>::lowest()};
    double count{0.0};
    double sum_x{0.0};
    double sum_y{0.0};
    double sum_xx{0.0};
    double sum_xy{0.0};
    double sum_yy{0.0};
    bool is_long{false};
    bool needs_moments{false};
    PartAxis axis() const;
    // The extent's diagonal in metres, given the size of a quarter cell.
    double diagonal(double quarter) const {
      return std::hypot(static_cast<double>(high_x - low_x + 1),
                        static_cast<double>(high_y - low_y + 1)) *
             quarter;
    }
    // Adds a point to the moments (not to the extent).
    void addPoint(double x, double y) {
      count += 1.0;
      sum_x += x;
      sum_y += y;
      sum_xx += x * x;
      sum_xy += x * y;
      sum_yy += y * y;
    }
  };
  // A long thin cluster: its root, axis (quarter cells) and ends along the axis.
  struct ShadowLine {
    int root{-1};
    PartAxis axis;
    double low{std::numeric_limits<double>::max()};
    double high{std::numeric_limits<double>::lowest()};
  };

  int findRoot(int cell);
  void joinCells(int a, int b);
  int cellIdAt(std::int64_t column, std::int64_t row) const;
  // Whether two long parts run side by side, parallel and each off the other's line by more
  // than `in_line` (quarter cells): a cabinet or a shelf in front of a wall, not a stretch of it.
  static bool sideBySide(const PartShape& a, const PartShape& b, double in_line);
  // The second round of joins (see the class comment): the deferred pairs of cells, by the
  // shapes of their parts. `step` is the cell size.
  void joinPartsByShape(int cell_count, double step);
  // The third round (see the class comment): a person's legs, parted by more than the kernel.
  void joinLegPieces(int cell_count, double step);
  // After the rounds, on the numbered clusters (point_cell_ holds each point's cluster,
  // root_cluster_ each root cell's): what stands in front of a wall becomes a cluster of its own
  // (see the class comment); clusters are numbered by first point again. The grid's cells are
  // `step` wide from (grid_min_x, grid_min_y).
  void peelFromLines(const PointCloud& cloud, int cell_count, double step, double grid_min_x,
                     double grid_min_y);
  // The principal axis of the `count` points `xy` (within `within` metres of `around` when
  // given).
  static PartAxis fitLine(const Eigen::Vector2d* xy, std::size_t count, const PartAxis* around,
                          double within);
  // `line` refitted to the points ever nearer to it (kRefitWindows): what stands beside a wall, or
  // the next wall round a corner, pulls a first fit off the wall.
  static PartAxis refitLine(const Eigen::Vector2d* xy, std::size_t count, PartAxis line);
  // The line of a wall among the `count` points `xy`, with whatever stands in front of it.
  PartAxis wallLine(const Eigen::Vector2d* xy, std::size_t count);
  // Of the `count` points `xy`: how many lie on `line` (within kOnLine), the extent of those along
  // it, and how many stand in front of it and behind it (beyond kBesideLine, on the origin's side
  // and the other).
  struct LineSupport {
    std::size_t on_line{0};
    std::size_t in_front{0};
    std::size_t behind{0};
    double low{std::numeric_limits<double>::max()};
    double high{std::numeric_limits<double>::lowest()};
  };
  static LineSupport supportOf(const Eigen::Vector2d* xy, std::size_t count, const PartAxis& line);
  // Per part (root cell): its extent and whether it is long; then the moments of the parts
  // marked needs_moments.
  void measurePartExtents(int cell_count, double step);
  void measurePartMoments(int cell_count);
  // The last round (see the class comment): a long thin cluster and the next long cluster along
  // its line, parted by a stretch hidden from the origin (given in quarter cells), or by a short
  // one that no line of sight sees through, are joined. Returns whether any two were joined.
  bool bridgeLineGaps(int cell_count, double step, double origin_x, double origin_y);
  // Whether `met`, the first cluster beyond an end of `line`, continues the line.
  static bool continuesLine(const ShadowLine& line, const PartShape& met, double quarter);
  // Whether every line of sight from the origin to the stretch [from, to] of `line`'s axis
  // passes something other than the two lines, and none sees through the stretch.
  bool stretchHidden(const ShadowLine& line, double from, double to, int other_root,
                     double origin_x, double origin_y, double quarter);
  // Whether a line of sight through the stretch [from, to] of `line`'s axis meets something
  // other than the two lines behind it (or passes too near the origin to tell).
  bool stretchSeenThrough(const ShadowLine& line, double from, double to, int other_root,
                          double origin_x, double origin_y, double quarter);
  // The line of sight from the origin (quarter cells) to the point `t` along `line`'s axis: its
  // unit direction and the point's distance.
  struct SightLine {
    double ux{1.0};
    double uy{0.0};
    double distance{0.0};
  };
  static SightLine sightTo(const ShadowLine& line, double t, double origin_x, double origin_y);
  // Whether `sight` meets something other than the two roots behind its point.
  bool seenBeyond(const SightLine& sight, double origin_x, double origin_y, int root_a, int root_b,
                  double quarter);
  // The cell holding a position in quarter cells, -1 when none is occupied there.
  int cellAt(double x, double y) const;
  // Whether a cell within `around` cells of the point (quarter cells) holds points of a cluster
  // other than the two roots, or, given `line`, of the two farther than `off_line` (quarter cells)
  // from it: a partition standing out from the wall it meets casts its shadow on the wall.
  bool occupiedByOthers(double x, double y, int root_a, int root_b, int around,
                        const PartAxis* line = nullptr, double off_line = 0.0);

  CloudClusterPara para_;
  int kernel_reach_{1};

  // Scratch, reused across calls. Occupied cells are numbered densely in order of first
  // appearance; point_cell_ maps points to them (-1 for non-finite points).
  std::vector<int> point_cell_;
  std::vector<std::int64_t> cell_column_;
  std::vector<std::int64_t> cell_row_;
  // Per cell, which of its sub-cells hold points (see the class comment).
  std::vector<std::uint16_t> cell_mask_;
  // Cells within the kernel but farther apart than the join gap, to be joined by the shapes of
  // their parts.
  std::vector<std::pair<int, int>> deferred_pairs_;
  // Candidate leg pairs: squared distance of their parts' box centres, and their roots.
  struct LegPair {
    double distance;
    int first;
    int second;
  };
  std::vector<LegPair> leg_pairs_;
  // Per root cell whether its part is leg-sized.
  std::vector<char> leg_sized_;
  // peelFromLines scratch: per cluster whether it is long; the points of the long clusters
  // grouped by cluster, and their coordinates; per cell its slot among the cells of the points in
  // front of a line (-1: none), those cells, the points with their slots, the groups of slots,
  // their boxes (low x, low y, high x, high y), counts, shapes and new clusters; the renumbering.
  std::vector<char> cluster_is_long_;
  std::vector<int> line_first_;
  std::vector<int> line_fill_;
  std::vector<int> line_points_;
  std::vector<Eigen::Vector2d, Eigen::aligned_allocator<Eigen::Vector2d>> line_xy_;
  std::vector<int> line_bins_;
  std::vector<int> beside_slot_;
  std::vector<int> beside_cells_;
  std::vector<std::pair<int, int>> beside_points_;
  std::vector<int> beside_parent_;
  std::vector<Eigen::Vector4f, Eigen::aligned_allocator<Eigen::Vector4f>> beside_box_;
  std::vector<int> beside_count_;
  std::vector<PartShape> beside_shape_;
  std::vector<int> beside_cluster_;
  std::vector<int> renumbered_;
  std::vector<PartShape> part_shape_;
  std::vector<int> cell_parent_;
  std::vector<int> root_cluster_;
  std::vector<int> cluster_size_;
  std::vector<int> cluster_output_;
  // The last round's long thin clusters, the line of each root (-1 for none), and the joins.
  std::vector<ShadowLine> shadow_lines_;
  std::vector<int> line_of_root_;
  std::vector<std::pair<int, int>> bridges_;
  // Cell lookup: a dense grid over the cloud's bounding box when it is small enough, a hash map
  // for clouds spread so wide that the dense grid would be too large.
  std::vector<int> dense_grid_;
  std::int64_t grid_columns_{0};
  std::int64_t grid_rows_{0};
  bool use_dense_grid_{true};
  std::unordered_map<std::int64_t, int> sparse_grid_;
};

}  // namespace perception
}  // namespace norvel
