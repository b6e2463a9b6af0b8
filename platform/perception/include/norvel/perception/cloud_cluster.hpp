// Euclidean-style clustering of obstacle points on a horizontal grid.
#pragma once

#include <norvel/perception/cloud_cluster_para.hpp>
#include <norvel/perception/point_cloud_types.hpp>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace norvel {
namespace perception {

// Groups the points of a cloud by their cell on a horizontal (x, y) grid of cluster_grid_step
// cells: occupied cells within the cluster_grid_kernelSize neighbourhood of each other (see
// CloudClusterPara) form one cluster, whatever their heights. Clusters with fewer than
// cluster_grid_th points are dropped.
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
  int findRoot(int cell);
  void joinCells(int a, int b);
  int cellIdAt(std::int64_t column, std::int64_t row) const;

  CloudClusterPara para_;
  int kernel_reach_{1};

  // Scratch, reused across calls. Occupied cells are numbered densely in order of first
  // appearance; point_cell_ maps points to them (-1 for non-finite points).
  std::vector<int> point_cell_;
  std::vector<std::int64_t> cell_column_;
  std::vector<std::int64_t> cell_row_;
  std::vector<int> cell_parent_;
  std::vector<int> root_cluster_;
  std::vector<int> cluster_size_;
  std::vector<int> cluster_output_;
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
