// The CPU post-process: picks the best-scoring anchors of the network's map, decodes their boxes,
// suppresses overlaps class by class and keeps the survivors with their probabilities.
//
// Owns the box list returned by GetBboxes and the per-pass scratch lists (reused, reserved once).
// Configuration is fixed after creation; the factory guarantees the invariants the decoder relies
// on: H, W, C > 0, at least 6 anchors of at least 4 values, at least 3 bottom heights,
// 0 < score_thresh < 1, and min_range / max_range of at least 2 values. One thread per instance.
#pragma once

#include <vector>

#include "nms.hpp"
#include "trelvon/postprocess.hpp"

namespace lidar_perception {
namespace trelvon {

class PostProcessImplementCpu : public PostProcess {
 public:
  void Forward(const float* cls_score, const float* bbox_pred, const float* dir_cls_pred) override;
  const std::vector<BBox>& GetBboxes() override { return bboxes; }
  bool ClearBboxes() override;

  std::vector<float> min_range;
  std::vector<float> max_range;
  std::vector<int> feature_size;
  int num_classes{3};
  int num_anchors{6};
  std::vector<std::vector<float>> anchors{{0.8f, 0.6f, 1.73f, 0.0f},  {0.8f, 0.6f, 1.73f, 1.57f},
                                          {1.76f, 0.6f, 1.73f, 0.0f}, {1.76f, 0.6f, 1.73f, 1.57f},
                                          {3.9f, 1.6f, 1.56f, 0.0f},  {3.9f, 1.6f, 1.56f, 1.57f}};
  std::vector<float> anchor_bottom_heights{-0.6f, -0.6f, -1.78f};
  int max_num{100};
  float score_thresh{0.1f};
  // Not the float nearest -pi/2 (bits 0xBFC90FD8); decoded headings depend on the exact value.
  float dir_offset{-1.570796f};
  float nms_thresh{0.01f};
  std::vector<BBox> bboxes;

 private:
  // Offers flat class-score index `index` to the bounded min-heap of candidates.
  void OfferCandidate(const float* cls_score, int index);
  // Decodes candidate anchor `anchor` into a box.
  DecodedBox Decode(int anchor, const float* bbox_pred, const float* dir_cls_pred) const;

  std::vector<int> heap_;
  std::vector<int> candidate_anchors_;
  std::vector<int> candidate_classes_;
  std::vector<float> candidate_logits_;
  std::vector<DecodedBox> decoded_;
};

}  // namespace trelvon
}  // namespace lidar_perception
