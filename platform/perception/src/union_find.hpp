// The union-find look-up shared by the library's grid groupings.
#pragma once

#include <cstddef>
#include <vector>

namespace norvel {
namespace perception {
namespace detail {

// Root of `node` in the union-find forest `parent`, halving the path on the way.
inline int rootIn(std::vector<int>& parent, int node) {
  while (parent[static_cast<std::size_t>(node)] != node) {
    parent[static_cast<std::size_t>(node)] =
        parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(node)])];
    node = parent[static_cast<std::size_t>(node)];
  }
  return node;
}

}  // namespace detail
}  // namespace perception
}  // namespace norvel
