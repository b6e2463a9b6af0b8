// Settings of the grid clusterer.
#pragma once

namespace norvel {
namespace perception {

// Grid clustering settings, in the order the node stores them.
struct CloudClusterPara {
  // Edge length of the square cells of the horizontal (x, y) grid, metres; must be > 0.
  float cluster_grid_step{0.15F};
  // Side, in cells, of the square neighbourhood within which two occupied cells belong to the
  // same cluster: cells whose column and row indices both differ by at most kernelSize / 2
  // (integer division) are joined, except a long part and a short one farther apart than
  // kernelSize / 2 cells (see CloudCluster). 1 joins only points of the same cell, 3 (the
  // default) the eight surrounding cells as well. Must be >= 1.
  int cluster_grid_kernelSize{3};
  // Smallest number of points a cluster must hold to be reported; smaller clusters are dropped
  // (counted in points, not cells). Values <= 1 keep every cluster.
  int cluster_grid_th{3};
};

}  // namespace perception
}  // namespace norvel
