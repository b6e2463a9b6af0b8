// Class-wise non-maximum suppression on rotated bird's-eye boxes.
#pragma once

#include <array>
#include <vector>

namespace lidar_perception {
namespace trelvon {

using DecodedBox = std::array<float, 7>;  // x, y, z (bottom), length, width, height, yaw

// `boxes` in descending score order with their classes. Returns one flag per box: its own index
// when kept, -1 when a kept earlier box of the same class overlaps it with a bird's-eye IoU above
// `threshold`. A suppressed box suppresses nothing; classes never suppress each other.
std::vector<int> nms_by_class(const std::vector<DecodedBox>& boxes, const std::vector<int>& classes,
                              float threshold);

}  // namespace trelvon
}  // namespace lidar_perception
