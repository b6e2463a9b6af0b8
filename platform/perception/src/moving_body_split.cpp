#include <norvel/perception/moving_body_split.hpp>

#include <Eigen/Core>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <unordered_map>

#include "union_find.hpp"

namespace norvel {
namespace perception {

namespace {

constexpr float kMaxCoordinate = 1.0e6F;

bool samePoint(const pcl::PointXYZ& a, const pcl::PointXYZ& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Both indices in one key; shifted unsigned, since a left shift of a negative number is undefined.
std::uint64_t cellKey(std::int64_t column, std::int64_t row) {
  return (static_cast<std::uint64_t>(column) << 32) ^
         (static_cast<std::uint64_t>(row) & 0xffffffffULL);
}

PointCloudPtr emptyCloud(std::size_t capacity) {
  auto cloud = std::make_shared<PointCloud>();
  cloud->points.reserve(capacity);
  return cloud;
}

void finish(PointCloud& cloud) {
  cloud.width = static_cast<std::uint32_t>(cloud.points.size());
  cloud.height = 1;
}

}  // namespace

std::vector<ClusterPart> separateMovingBodies(const PointCloud& cluster,
                                              const PointCloud& dynamic_part,
                                              const MovingBodySettings& settings) {
  const std::size_t n = cluster.points.size();
  if (dynamic_part.points.size() < settings.min_points || !(settings.cell > 0.0F)) {
    return {};
  }
  // Which of the cluster's points are moved: the dynamic part is a subsequence of the cluster.
  std::vector<char> moved(n, 0);
  std::vector<std::size_t> moved_index;
  moved_index.reserve(dynamic_part.points.size());
  for (std::size_t i = 0, j = 0; i < n && j < dynamic_part.points.size(); ++i) {
    if (samePoint(cluster.points[i], dynamic_part.points[j])) {
      moved[i] = 1;
      moved_index.push_back(i);
      ++j;
    }
  }
  // Group the moved points on the grid: one union-find entry per occupied cell.
  const float inverse_cell = 1.0F / settings.cell;
  std::unordered_map<std::uint64_t, int> cell_of_key;
  std::vector<int> cell_of_point(moved_index.size(), -1);
  std::vector<std::pair<std::int64_t, std::int64_t>> cells;
  for (std::size_t m = 0; m < moved_index.size(); ++m) {
    const pcl::PointXYZ& p = cluster.points[moved_index[m]];
    // Far beyond any sensor's range a cell index would not fit its integer.
    if (!(std::fabs(p.x) <= kMaxCoordinate) || !(std::fabs(p.y) <= kMaxCoordinate)) {
      continue;
    }
    const auto column = static_cast<std::int64_t>(std::floor(p.x * inverse_cell));
    const auto row = static_cast<std::int64_t>(std::floor(p.y * inverse_cell));
    const auto inserted = cell_of_key.emplace(cellKey(column, row), static_cast<int>(cells.size()));
    if (inserted.second) {
      cells.emplace_back(column, row);
    }
    cell_of_point[m] = inserted.first->second;
  }
  std::vector<int> parent(cells.size());
  std::iota(parent.begin(), parent.end(), 0);
  for (std::size_t c = 0; c < cells.size(); ++c) {
    for (std::int64_t dc = -1; dc <= 1; ++dc) {
      for (std::int64_t dr = -1; dr <= 1; ++dr) {
        const auto found = cell_of_key.find(cellKey(cells[c].first + dc, cells[c].second + dr));
        if (found != cell_of_key.end()) {
          const int a = detail::rootIn(parent, static_cast<int>(c));
          const int b = detail::rootIn(parent, found->second);
          parent[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
        }
      }
    }
  }
  // Each group's moved points and horizontal box.
  struct Group {
    std::size_t count{0};
    Eigen::Vector2f low{Eigen::Vector2f::Constant(std::numeric_limits<float>::max())};
    Eigen::Vector2f high{Eigen::Vector2f::Constant(std::numeric_limits<float>::lowest())};
  };
  std::vector<Group> groups(cells.size());
  for (std::size_t m = 0; m < moved_index.size(); ++m) {
    if (cell_of_point[m] < 0) {
      continue;
    }
    Group& group = groups[static_cast<std::size_t>(detail::rootIn(parent, cell_of_point[m]))];
    const pcl::PointXYZ& p = cluster.points[moved_index[m]];
    ++group.count;
    group.low = group.low.cwiseMin(Eigen::Vector2f(p.x, p.y));
    group.high = group.high.cwiseMax(Eigen::Vector2f(p.x, p.y));
  }
  // Bodies: small groups that make most of what lies in their grown box. A point in two boxes
  // goes to the first body.
  std::vector<int> body_of(n, -1);
  std::vector<ClusterPart> parts;
  std::vector<std::size_t> inside;
  for (const Group& group : groups) {
    if (group.count < settings.min_points ||
        (group.high - group.low).norm() > settings.max_diagonal) {
      continue;
    }
    const Eigen::Vector2f low = group.low.array() - settings.margin;
    const Eigen::Vector2f high = group.high.array() + settings.margin;
    inside.clear();
    std::size_t moved_inside = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const pcl::PointXYZ& p = cluster.points[i];
      if (body_of[i] < 0 && p.x >= low.x() && p.x <= high.x() && p.y >= low.y() &&
          p.y <= high.y()) {
        inside.push_back(i);
        moved_inside += moved[i] ? 1 : 0;
      }
    }
    if (static_cast<float>(moved_inside) < settings.min_share * static_cast<float>(inside.size())) {
      continue;
    }
    const int body = static_cast<int>(parts.size());
    ClusterPart part{emptyCloud(inside.size()), emptyCloud(moved_inside),
                     emptyCloud(inside.size() - moved_inside)};
    for (const std::size_t i : inside) {
      body_of[i] = body;
      part.cluster->points.push_back(cluster.points[i]);
      (moved[i] ? part.dynamic_part : part.static_part)->points.push_back(cluster.points[i]);
    }
    parts.push_back(std::move(part));
  }
  if (parts.empty()) {
    return {};
  }
  ClusterPart rest{emptyCloud(n), emptyCloud(dynamic_part.points.size()), emptyCloud(n)};
  for (std::size_t i = 0; i < n; ++i) {
    if (body_of[i] < 0) {
      rest.cluster->points.push_back(cluster.points[i]);
      (moved[i] ? rest.dynamic_part : rest.static_part)->points.push_back(cluster.points[i]);
    }
  }
  if (!rest.cluster->points.empty()) {
    parts.push_back(std::move(rest));
  }
  for (ClusterPart& part : parts) {
    finish(*part.cluster);
    finish(*part.dynamic_part);
    finish(*part.static_part);
  }
  return parts;
}

}  // namespace perception
}  // namespace norvel
