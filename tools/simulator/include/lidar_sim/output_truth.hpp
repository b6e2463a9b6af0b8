// Ground truth of simulated frames, looked up by the base-frame position of points the node
// publishes, and the dynamic/static split quality it gives.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include <Eigen/Geometry>
#include <corvanta_protocol/msg/semantic_point_cloud.hpp>

#include "lidar_sim/simulated_frame.hpp"

namespace lidar_sim {

// What a published point is, from the simulator's ground truth.
enum class Truth { kMovingAgent, kStandingAgent, kStructure, kGround };

// Ground truth of one frame, looked up by base-frame position (to 0.1 mm). Agents standing still
// are told apart from moving ones: no motion detector can see a person who does not move.
class TruthIndex {
 public:
  explicit TruthIndex(const SimulatedFrame& frame) {
    std::unordered_map<uint16_t, double> speed_of;
    for (const auto& box : frame.boxes) {
      speed_of[box.id] = box.speed;
    }
    const Eigen::Isometry3f mount = frame.base_to_lidar.cast<float>();
    for (size_t i = 0; i < frame.size(); ++i) {
      const auto& p = frame.cloud->points[i];
      Truth truth = Truth::kGround;
      if (frame.labels[i] == PointLabel::kStatic) {
        truth = Truth::kStructure;
      } else if (frame.labels[i] == PointLabel::kDynamic) {
        truth = speed_of[frame.object_ids[i]] > 0.1 ? Truth::kMovingAgent : Truth::kStandingAgent;
      }
      truths_[key(mount * Eigen::Vector3f(p.x, p.y, p.z))] = truth;
    }
  }
  // The truth of the scan point at `p`, or nullptr when there is none.
  const Truth* find(const Eigen::Vector3f& p) const {
    const auto it = truths_.find(key(p));
    return it == truths_.end() ? nullptr : &it->second;
  }

 private:
  static uint64_t key(const Eigen::Vector3f& p) {
    auto q = [](float v) { return static_cast<uint64_t>(std::llround(v * 1e4) + (1 << 20)); };
    return (q(p.x()) << 42) ^ (q(p.y()) << 21) ^ q(p.z());
  }
  std::unordered_map<uint64_t, Truth> truths_;
};

struct TruthCounts {
  size_t moving = 0;
  size_t standing = 0;
  size_t structure = 0;
  size_t ground = 0;
  size_t unmatched = 0;
  size_t total() const { return moving + standing + structure + ground + unmatched; }
};

inline void countTruths(const corvanta_protocol::msg::SemanticPointCloud& message,
                        const TruthIndex& index, TruthCounts& counts) {
  for (const auto& obstacle : message.obstacles) {
    const auto& cloud = obstacle.cloud;
    for (size_t offset = 0; offset + 12 <= cloud.data.size(); offset += cloud.point_step) {
      float xyz[3];
      std::memcpy(xyz, cloud.data.data() + offset, sizeof(xyz));
      const Truth* truth = index.find(Eigen::Vector3f(xyz[0], xyz[1], xyz[2]));
      if (truth == nullptr) {
        ++counts.unmatched;
        continue;
      }
      switch (*truth) {
        case Truth::kMovingAgent:
          ++counts.moving;
          break;
        case Truth::kStandingAgent:
          ++counts.standing;
          break;
        case Truth::kStructure:
          ++counts.structure;
          break;
        case Truth::kGround:
          ++counts.ground;
          break;
      }
    }
  }
}

// How well published dynamic and static obstacles match the truth.
struct SplitQuality {
  // Dynamic output: people (moving, or standing after walking); never walls or furniture.
  double dynamic_precision = 0.0;
  // Static output: everything but walking people.
  double static_precision = 0.0;
  // Walking people end up in the dynamic output.
  double moving_recall = 0.0;
};

inline SplitQuality splitQuality(const TruthCounts& on_dynamic, const TruthCounts& on_static) {
  auto share = [](size_t part, size_t whole) {
    return static_cast<double>(part) / static_cast<double>(whole == 0 ? 1 : whole);
  };
  SplitQuality quality;
  quality.dynamic_precision = share(on_dynamic.moving + on_dynamic.standing, on_dynamic.total());
  quality.static_precision = share(on_static.total() - on_static.moving, on_static.total());
  quality.moving_recall = share(on_dynamic.moving, on_dynamic.moving + on_static.moving);
  return quality;
}

}  // namespace lidar_sim
