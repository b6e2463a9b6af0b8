#include <norvel/perception/cloud_cluster.hpp>

#include "logger.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace norvel {
namespace perception {

namespace {

// Largest dense lookup grid (cells); wider clouds use the hash map instead.
constexpr std::int64_t kMaxDenseCells = std::int64_t{1} << 22;
// Cell indices are packed into one 64-bit key: 32 bits each, after offsetting to non-negative.
constexpr std::int64_t kKeyShift = 32;

}  // namespace

CloudCluster::CloudCluster(const CloudClusterPara& para) : para_(para) {
  if (!std::isfinite(para.cluster_grid_step) || !(para.cluster_grid_step > 0.0F)) {
    throw std::invalid_argument(
        fmt::format("cloud cluster: cluster_grid_step must be a finite value > 0, got {}",
                    para.cluster_grid_step));
  }
  if (para.cluster_grid_kernelSize < 1) {
    throw std::invalid_argument(
        fmt::format("cloud cluster: cluster_grid_kernelSize must be >= 1, got {}",
                    para.cluster_grid_kernelSize));
  }
  kernel_reach_ = para.cluster_grid_kernelSize / 2;
}

int CloudCluster::findRoot(int cell) {
  while (cell_parent_[cell] != cell) {
    cell_parent_[cell] = cell_parent_[cell_parent_[cell]];
    cell = cell_parent_[cell];
  }
  return cell;
}

void CloudCluster::joinCells(int a, int b) {
  a = findRoot(a);
  b = findRoot(b);
  if (a == b) {
    return;
  }
  // The older cell stays root, which keeps roots independent of neighbour visiting order.
  if (a < b) {
    cell_parent_[b] = a;
  } else {
    cell_parent_[a] = b;
  }
}

int CloudCluster::cellIdAt(std::int64_t column, std::int64_t row) const {
  if (column < 0 || row < 0 || column >= grid_columns_ || row >= grid_rows_) {
    return -1;
  }
  if (use_dense_grid_) {
    return dense_grid_[static_cast<std::size_t>(column * grid_rows_ + row)];
  }
  const auto found = sparse_grid_.find((column << kKeyShift) | row);
  return found == sparse_grid_.end() ? -1 : found->second;
}

void CloudCluster::obstacleCluster(PointCloudPtr cloud, int& count,
                                   std::vector<PointCloudPtr>& clusters) {
  count = 0;
  if (cloud == nullptr) {
    LOG_ERROR("obstacleCluster: input cloud pointer is null; no clusters");
    return;
  }
  const auto& points = cloud->points;
  const std::size_t n = points.size();
  if (n == 0) {
    return;
  }

  // Bounding box of the finite points fixes the grid origin and size.
  float min_x = std::numeric_limits<float>::max();
  float min_y = std::numeric_limits<float>::max();
  float max_x = std::numeric_limits<float>::lowest();
  float max_y = std::numeric_limits<float>::lowest();
  std::size_t non_finite = 0;
  for (const pcl::PointXYZ& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      ++non_finite;
      continue;
    }
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
  }
  if (non_finite > 0) {
    LOG_ERROR("obstacleCluster: skipped {} of {} points with a non-finite coordinate", non_finite,
              n);
  }
  if (non_finite == n) {
    return;
  }
  const double step = para_.cluster_grid_step;
  grid_columns_ = static_cast<std::int64_t>((static_cast<double>(max_x) - min_x) / step) + 1;
  grid_rows_ = static_cast<std::int64_t>((static_cast<double>(max_y) - min_y) / step) + 1;
  if (grid_columns_ >= (std::int64_t{1} << 31) || grid_rows_ >= (std::int64_t{1} << 31)) {
    LOG_ERROR("obstacleCluster: cloud spans {} x {} m, too wide for {} m cells; no clusters",
              max_x - min_x, max_y - min_y, step);
    return;
  }
  use_dense_grid_ = grid_columns_ * grid_rows_ <= kMaxDenseCells;
  if (use_dense_grid_) {
    const auto cells = static_cast<std::size_t>(grid_columns_ * grid_rows_);
    if (dense_grid_.size() < cells) {
      dense_grid_.resize(cells, -1);
    }
  } else {
    sparse_grid_.clear();
  }

  // Number the occupied cells in order of first appearance.
  point_cell_.resize(n);
  cell_column_.clear();
  cell_row_.clear();
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ& p = points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      point_cell_[i] = -1;
      continue;
    }
    const auto column = static_cast<std::int64_t>((static_cast<double>(p.x) - min_x) / step);
    const auto row = static_cast<std::int64_t>((static_cast<double>(p.y) - min_y) / step);
    int* slot = nullptr;
    if (use_dense_grid_) {
      slot = &dense_grid_[static_cast<std::size_t>(column * grid_rows_ + row)];
    } else {
      slot = &sparse_grid_.emplace((column << kKeyShift) | row, -1).first->second;
    }
    if (*slot < 0) {
      *slot = static_cast<int>(cell_column_.size());
      cell_column_.push_back(column);
      cell_row_.push_back(row);
    }
    point_cell_[i] = *slot;
  }

  // Join occupied cells within the kernel; visiting half of the neighbourhood suffices because
  // the other half is visited from the neighbours.
  const int cell_count = static_cast<int>(cell_column_.size());
  cell_parent_.resize(cell_count);
  for (int c = 0; c < cell_count; ++c) {
    cell_parent_[c] = c;
  }
  const std::int64_t reach = kernel_reach_;
  for (int c = 0; c < cell_count; ++c) {
    for (std::int64_t dc = 0; dc <= reach; ++dc) {
      for (std::int64_t dr = -reach; dr <= reach; ++dr) {
        if (dc == 0 && dr <= 0) {
          continue;
        }
        const int neighbour = cellIdAt(cell_column_[c] + dc, cell_row_[c] + dr);
        if (neighbour >= 0) {
          joinCells(c, neighbour);
        }
      }
    }
  }

  // Clusters are numbered by their first point; count their points.
  root_cluster_.assign(cell_count, -1);
  cluster_size_.clear();
  for (std::size_t i = 0; i < n; ++i) {
    if (point_cell_[i] < 0) {
      continue;
    }
    const int root = findRoot(point_cell_[i]);
    if (root_cluster_[root] < 0) {
      root_cluster_[root] = static_cast<int>(cluster_size_.size());
      cluster_size_.push_back(0);
    }
    point_cell_[i] = root_cluster_[root];
    ++cluster_size_[point_cell_[i]];
  }

  const std::size_t first_output = clusters.size();
  cluster_output_.assign(cluster_size_.size(), -1);
  for (std::size_t k = 0; k < cluster_size_.size(); ++k) {
    if (cluster_size_[k] < para_.cluster_grid_th) {
      continue;
    }
    cluster_output_[k] = static_cast<int>(clusters.size());
    auto cluster = std::make_shared<PointCloud>();
    cluster->points.reserve(static_cast<std::size_t>(cluster_size_[k]));
    clusters.push_back(cluster);
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (point_cell_[i] < 0) {
      continue;
    }
    const int output = cluster_output_[point_cell_[i]];
    if (output >= 0) {
      clusters[static_cast<std::size_t>(output)]->points.push_back(points[i]);
    }
  }
  for (std::size_t k = first_output; k < clusters.size(); ++k) {
    clusters[k]->width = static_cast<std::uint32_t>(clusters[k]->points.size());
    clusters[k]->height = 1;
    clusters[k]->is_dense = true;
  }
  count = static_cast<int>(clusters.size() - first_output);

  // Leave the dense grid all -1 for the next call, touching only the cells used.
  if (use_dense_grid_) {
    for (int c = 0; c < cell_count; ++c) {
      dense_grid_[static_cast<std::size_t>(cell_column_[c] * grid_rows_ + cell_row_[c])] = -1;
    }
  }
}

}  // namespace perception
}  // namespace norvel
