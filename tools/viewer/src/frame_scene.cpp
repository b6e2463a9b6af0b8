#include "birdseye/frame_scene.hpp"

#include <fmt/format.h>

#include <Eigen/Geometry>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "lidar_sim/ground_truth.hpp"

namespace birdseye {
namespace {

const Rgb kGround{0.62, 0.62, 0.62};
const Rgb kStatic{0.12, 0.33, 0.85};
const Rgb kDynamic{0.9, 0.08, 0.08};
const Rgb kTruthBox{0.55, 0.0, 0.35};

// Distinct colours for colouring by object, cycled by object id.
const std::array<Rgb, 10> kObjectPalette{{{0.12, 0.47, 0.71},
                                          {1.0, 0.5, 0.05},
                                          {0.17, 0.63, 0.17},
                                          {0.84, 0.15, 0.16},
                                          {0.58, 0.4, 0.74},
                                          {0.55, 0.34, 0.29},
                                          {0.89, 0.47, 0.76},
                                          {0.74, 0.74, 0.13},
                                          {0.09, 0.75, 0.81},
                                          {0.3, 0.3, 0.3}}};

bool isAgent(lidar_sim::ObjectClass c) {
  return c == lidar_sim::ObjectClass::kPerson || c == lidar_sim::ObjectClass::kCart ||
         c == lidar_sim::ObjectClass::kCyclist;
}

Eigen::Isometry3d interpolate(const Eigen::Isometry3d& a, const Eigen::Isometry3d& b, double t) {
  const Eigen::Quaterniond qa(a.rotation());
  const Eigen::Quaterniond qb(b.rotation());
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.linear() = qa.slerp(t, qb).toRotationMatrix();
  pose.translation() = (1.0 - t) * a.translation() + t * b.translation();
  return pose;
}

}  // namespace

std::vector<PointClass> groundTruthClasses() {
  return {{"ground", kGround, true}, {"static", kStatic, true}, {"dynamic", kDynamic, true}};
}

Scene sceneFromFrame(const lidar_sim::SimulatedFrame& frame, const FrameView& view,
                     const std::string& title) {
  frame.checkConsistent();
  Scene scene;
  scene.width_px = view.width_px;
  scene.height_px = view.height_px;
  scene.metres_per_pixel = view.metres_per_pixel;
  scene.region = view.region;
  scene.footprint = view.footprint;
  const double reach = std::hypot(view.region.x_half, view.region.y_half);
  const Eigen::Vector3d lidar_origin = frame.base_to_lidar.translation();
  for (const CameraSpan& camera : view.cameras) {
    scene.frusta.push_back(
        Frustum{lidar_origin.x(), lidar_origin.y(), camera.start_deg, camera.end_deg, reach});
  }

  std::map<std::uint16_t, std::uint16_t> object_class;  // object id -> class index
  if (view.colouring == Colouring::kLabel) {
    scene.classes = groundTruthClasses();
  } else {
    scene.classes.push_back({"ground", kGround, true});
    scene.classes.push_back({"one colour per object", kObjectPalette[0], true});
  }

  // Points of the base frame at the stamp: base(stamp)^-1 * base(t) * mount * p.
  const Eigen::Isometry3d base_inverse = frame.map_to_base.inverse();
  const double duration = static_cast<double>(std::max<std::int64_t>(frame.duration_ns, 1));
  std::array<std::size_t, 3> counts{};
  std::vector<ScenePoint> by_label[3];
  for (std::size_t i = 0; i < frame.size(); ++i) {
    const auto& p = frame.cloud->points[i];
    const double t = std::min(1.0, frame.offset_time_ns[i] / duration);
    const Eigen::Isometry3d lidar_to_base =
        base_inverse * interpolate(frame.map_to_base, frame.map_to_base_end, t) *
        frame.base_to_lidar;
    const Eigen::Vector3d q = lidar_to_base * Eigen::Vector3d(p.x, p.y, p.z);
    if (!q.allFinite() || q.z() > view.max_z) {
      continue;
    }
    const auto label = static_cast<std::size_t>(frame.labels[i]);
    if (label > 2) {
      continue;
    }
    ++counts[label];
    std::uint16_t cls = static_cast<std::uint16_t>(label);
    if (view.colouring == Colouring::kObject) {
      const std::uint16_t id = frame.object_ids[i];
      if (frame.labels[i] == lidar_sim::PointLabel::kGround) {
        cls = 0;
      } else {
        auto it = object_class.find(id);
        if (it == object_class.end()) {
          // The legend's swatch (class 1) already holds the first colour.
          const std::uint16_t index = static_cast<std::uint16_t>(scene.classes.size());
          scene.classes.push_back(
              {fmt::format("object {}", id), kObjectPalette[id % kObjectPalette.size()], false});
          it = object_class.emplace(id, index).first;
        }
        cls = it->second;
      }
    }
    by_label[label].push_back({q.x(), q.y(), cls});
  }
  for (auto& group : by_label) {
    if (view.colouring == Colouring::kObject) {
      // One fill per object rather than one per change of colour along the scan.
      std::stable_sort(group.begin(), group.end(), [](const ScenePoint& a, const ScenePoint& b) {
        return a.class_index < b.class_index;
      });
    }
    scene.points.insert(scene.points.end(), group.begin(), group.end());
  }

  if (view.truth_boxes) {
    scene.box_legend = "truth box (agent)";
    for (const lidar_sim::ObjectBox& box : frame.boxes) {
      if (isAgent(box.object_class)) {
        scene.boxes.push_back({box.x, box.y, box.width, box.length, box.yaw, kTruthBox});
      }
    }
  }
  scene.caption.push_back(fmt::format("{}  frame {}  t = {:.2f} s", title, frame.index,
                                      static_cast<double>(frame.stamp_ns) * 1e-9));
  scene.caption.push_back(
      fmt::format("ground {}  static {}  dynamic {} points", counts[0], counts[1], counts[2]));
  return scene;
}

}  // namespace birdseye
