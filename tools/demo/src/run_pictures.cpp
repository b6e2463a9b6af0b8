#include "lidar_demo/run_pictures.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "birdseye/gif_writer.hpp"
#include "birdseye/render.hpp"

namespace lidar_demo {

namespace {

const birdseye::Rgb kScan{0.7, 0.7, 0.7};
const birdseye::Rgb kStatic{0.12, 0.33, 0.85};
const birdseye::Rgb kDynamic{0.9, 0.08, 0.08};
const birdseye::Rgb kAgentBox{0.55, 0.0, 0.35};
const birdseye::Rgb kDetectedBox{0.95, 0.5, 0.0};

bool isAgent(lidar_sim::ObjectClass c) {
  return c == lidar_sim::ObjectClass::kPerson || c == lidar_sim::ObjectClass::kCart ||
         c == lidar_sim::ObjectClass::kCyclist;
}

}  // namespace

birdseye::Scene outputScene(const FrameRecord& record, const PictureView& view,
                            const std::string& title) {
  birdseye::Scene scene;
  scene.width_px = view.size_px;
  scene.height_px = view.size_px;
  // The region fills the picture whatever its size.
  const double half_extent = std::max(view.region.x_half, view.region.y_half) * 1.08;
  scene.metres_per_pixel = 2.0 * half_extent / static_cast<double>(view.size_px);
  scene.point_size_px = std::max(1.5, 0.03 / scene.metres_per_pixel);
  scene.classes = {{"scan (ground, out of region)", kScan, true},
                   {"static obstacle", kStatic, true},
                   {"dynamic obstacle", kDynamic, true}};
  scene.region = view.region;
  scene.footprint = view.footprint;
  scene.frusta = view.frusta;
  auto add = [&](const PlanarPoints& points, std::uint16_t cls) {
    for (const auto& p : points) {
      if (std::abs(p[0]) <= half_extent && std::abs(p[1]) <= half_extent) {
        scene.points.push_back({p[0], p[1], cls});
      }
    }
  };
  add(record.scan_xy, 0);
  if (view.colour_clusters) {
    // A cycle of distinct colours; the legend shows one entry for all of them.
    static const birdseye::Rgb kPalette[] = {
        {0.12, 0.47, 0.71}, {1.0, 0.5, 0.05},   {0.17, 0.63, 0.17},
        {0.84, 0.15, 0.16}, {0.58, 0.4, 0.74},  {0.55, 0.34, 0.29},
        {0.89, 0.47, 0.76}, {0.74, 0.74, 0.13}, {0.09, 0.75, 0.81}};
    scene.classes.resize(1);
    for (std::size_t c = 0; c < std::size(kPalette); ++c) {
      scene.classes.push_back({"obstacle cluster (one colour each)", kPalette[c], c == 0});
    }
    std::size_t cluster = 0;
    auto add_clusters = [&](const PlanarPoints& points, const std::vector<std::uint32_t>& sizes) {
      std::size_t at = 0;
      for (const std::uint32_t size : sizes) {
        const auto cls = static_cast<std::uint16_t>(1 + cluster++ % std::size(kPalette));
        for (std::size_t i = at; i < at + size && i < points.size(); ++i) {
          const auto& p = points[i];
          if (std::abs(p[0]) <= half_extent && std::abs(p[1]) <= half_extent) {
            scene.points.push_back({p[0], p[1], cls});
          }
        }
        at += size;
      }
    };
    add_clusters(record.static_xy, record.static_cluster_sizes);
    add_clusters(record.dynamic_xy, record.dynamic_cluster_sizes);
  } else {
    add(record.static_xy, 1);
    add(record.dynamic_xy, 2);
  }
  if (record.truth) {
    scene.box_legend = "person, cart or cyclist (truth)";
    for (const auto& box : record.truth->boxes) {
      if (isAgent(box.object_class)) {
        scene.boxes.push_back({box.x, box.y, box.width, box.length, box.yaw, kAgentBox});
      }
    }
  }
  for (const auto& box : record.detected) {
    scene.boxes.push_back({box.x, box.y, box.length, box.width, box.yaw, kDetectedBox});
  }
  if (!record.detected.empty()) {
    scene.box_legend = record.truth ? "box: truth (purple), detected (orange)" : "detected box";
  }
  scene.caption.push_back(fmt::format("{}  scan {}  t = {:.2f} s", title, record.index,
                                      static_cast<double>(record.stamp_ns) * 1e-9));
  scene.caption.push_back(fmt::format("{} dynamic, {} static clusters", record.dynamic_clusters,
                                      record.static_clusters));
  return scene;
}

std::vector<std::string> writePictures(const std::vector<FrameRecord>& records,
                                       const std::vector<std::size_t>& chosen,
                                       const PictureView& view, const std::string& title,
                                       const std::string& directory, const std::string& gif_path,
                                       std::size_t gif_step, int gif_size_px,
                                       double frame_period_s) {
  std::vector<std::string> written;
  for (const std::size_t k : chosen) {
    if (k >= records.size()) {
      continue;
    }
    const std::string path = fmt::format("{}/frame_{:06d}.png", directory, records[k].index);
    birdseye::renderPng(outputScene(records[k], view, title), path);
    written.push_back(path);
  }
  if (!gif_path.empty() && !records.empty()) {
    gif_step = std::max<std::size_t>(gif_step, 1);
    PictureView small = view;
    small.size_px = gif_size_px;
    const int delay_cs = static_cast<int>(
        std::clamp(std::lround(frame_period_s * static_cast<double>(gif_step) * 100.0), 2L, 500L));
    birdseye::GifWriter gif(gif_path, gif_size_px, gif_size_px, delay_cs, 0);
    for (std::size_t k = 0; k < records.size(); k += gif_step) {
      gif.append(birdseye::renderImage(outputScene(records[k], small, title)).get());
    }
    gif.close();
    written.push_back(gif_path);
  }
  return written;
}

}  // namespace lidar_demo
