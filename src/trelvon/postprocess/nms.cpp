#include "nms.hpp"

#include <set>
#include <stdexcept>

#include "box_overlap_internal.hpp"

namespace lidar_perception {
namespace trelvon {

std::vector<int> nms_by_class(const std::vector<DecodedBox>& boxes, const std::vector<int>& classes,
                              float threshold) {
  if (boxes.size() != classes.size()) {
    throw std::invalid_argument("nms_by_class: one class per box is required");
  }
  const int count = static_cast<int>(boxes.size());
  std::vector<int> keep(count);
  for (int i = 0; i < count; ++i) {
    keep[i] = i;
  }
  const std::set<int> distinct(classes.begin(), classes.end());
  for (const int label : distinct) {
    for (int i = 0; i < count; ++i) {
      if (keep[i] == -1 || classes[i] != label) {
        continue;
      }
      for (int j = i + 1; j < count; ++j) {
        if (keep[j] != -1 && classes[j] == label &&
            bev_iou(boxes[i].data(), boxes[j].data()) > threshold) {
          keep[j] = -1;
        }
      }
    }
  }
  return keep;
}

}  // namespace trelvon
}  // namespace lidar_perception
