#include "postprocess_implement_cpu.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace lidar_perception {
namespace trelvon {
namespace {

constexpr double kPi = 3.141592653589793;

}  // namespace

bool PostProcessImplementCpu::ClearBboxes() {
  bboxes.clear();
  return true;
}

void PostProcessImplementCpu::OfferCandidate(const float* cls_score, int index) {
  // Orders a before b when a's logit is higher, so the heap's front holds the lowest logit.
  const auto higher = [cls_score](int a, int b) { return cls_score[a] > cls_score[b]; };
  if (static_cast<int>(heap_.size()) < max_num) {
    heap_.push_back(index);
    std::push_heap(heap_.begin(), heap_.end(), higher);
  } else if (cls_score[index] > cls_score[heap_.front()]) {
    std::pop_heap(heap_.begin(), heap_.end(), higher);
    heap_.back() = index;
    std::push_heap(heap_.begin(), heap_.end(), higher);
  }
}

DecodedBox PostProcessImplementCpu::Decode(int anchor, const float* bbox_pred,
                                           const float* dir_cls_pred) const {
  const int rows = feature_size[0];
  const int cols = feature_size[1];
  const int type = anchor % num_anchors;
  const int cell = anchor / num_anchors;
  const int row = cell / cols;
  const int col = cell % cols;
  const std::vector<float>& shape = anchors[type];
  const float la = shape[0];
  const float wa = shape[1];
  const float ha = shape[2];
  const float ra = shape[3];
  const float bottom = anchor_bottom_heights[type / 2];

  const float sx = (max_range[0] - min_range[0]) / static_cast<float>(cols);
  const float sy = (max_range[1] - min_range[1]) / static_cast<float>(rows);
  const float xa = static_cast<float>((static_cast<double>(col) + 0.5) * static_cast<double>(sx) +
                                      static_cast<double>(min_range[0]));
  const float ya = static_cast<float>((static_cast<double>(row) + 0.5) * static_cast<double>(sy) +
                                      static_cast<double>(min_range[1]));
  const float za = 0.5f * ha + bottom;
  const float diag = std::sqrt(la * la + wa * wa);

  const float* delta = bbox_pred + static_cast<std::size_t>(anchor) * 7;
  const float x = delta[0] * diag + xa;
  const float y = delta[1] * diag + ya;
  const float zc = delta[2] * ha + za;
  const float length = la * std::exp(delta[3]);
  const float width = wa * std::exp(delta[4]);
  const float height = ha * std::exp(delta[5]);
  const float z = zc - 0.5f * height;

  // Reduce the regressed heading into [dir_offset, dir_offset + pi), then let the direction
  // classifier choose between it and its opposite.
  const float r = ra + delta[6];
  const float u = r - dir_offset;
  const double q = std::floor(static_cast<double>(u) / kPi);
  const float v = static_cast<float>(static_cast<double>(u) - q * kPi);
  const float* dir = dir_cls_pred + static_cast<std::size_t>(anchor) * 2;
  const int bin = dir[0] > dir[1] ? 0 : 1;  // NaN compares false: bin 1
  const float yaw = static_cast<float>(static_cast<double>(v + dir_offset) + bin * kPi);
  return {x, y, z, length, width, height, yaw};
}

void PostProcessImplementCpu::Forward(const float* cls_score, const float* bbox_pred,
                                      const float* dir_cls_pred) {
  const float threshold = static_cast<float>(-static_cast<double>(
      logf(static_cast<float>(1.0 / static_cast<double>(score_thresh) - 1.0))));

  heap_.clear();
  heap_.reserve(max_num);
  const int anchor_count = feature_size[0] * feature_size[1] * num_anchors;
  for (int anchor = 0; anchor < anchor_count; ++anchor) {
    const float* logits = cls_score + static_cast<std::size_t>(anchor) * num_classes;
    float best = -FLT_MAX;
    int index = -1;
    for (int k = 0; k < num_classes; ++k) {
      if (logits[k] > best) {
        best = logits[k];
        index = anchor * num_classes + k;
      }
    }
    if (best > threshold) {
      OfferCandidate(cls_score, index);
    }
  }

  // Drained lowest first, then reversed: highest logit first.
  const auto higher = [cls_score](int a, int b) { return cls_score[a] > cls_score[b]; };
  candidate_anchors_.clear();
  candidate_classes_.clear();
  candidate_logits_.clear();
  while (!heap_.empty()) {
    std::pop_heap(heap_.begin(), heap_.end(), higher);
    const int index = heap_.back();
    heap_.pop_back();
    candidate_anchors_.push_back(index / num_classes);
    candidate_classes_.push_back(index % num_classes);
    candidate_logits_.push_back(cls_score[index]);
  }
  std::reverse(candidate_anchors_.begin(), candidate_anchors_.end());
  std::reverse(candidate_classes_.begin(), candidate_classes_.end());
  std::reverse(candidate_logits_.begin(), candidate_logits_.end());

  decoded_.clear();
  for (const int anchor : candidate_anchors_) {
    decoded_.push_back(Decode(anchor, bbox_pred, dir_cls_pred));
  }
  const std::vector<int> keep = nms_by_class(decoded_, candidate_classes_, nms_thresh);

  bboxes.clear();
  for (std::size_t i = 0; i < decoded_.size(); ++i) {
    if (keep[i] == -1) {
      continue;
    }
    const DecodedBox& box = decoded_[i];
    const float score =
        static_cast<float>(1.0 / (1.0 + static_cast<double>(expf(-candidate_logits_[i]))));
    bboxes.push_back(
        {box[0], box[1], box[2], box[3], box[4], box[5], box[6], candidate_classes_[i], score});
  }
}

}  // namespace trelvon
}  // namespace lidar_perception
