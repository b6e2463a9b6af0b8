// Bird's-eye pictures of what the node published: each scan's points in grey, the node's static
// obstacles in blue and dynamic ones in red, the simulator's agent boxes, the camera frusta, the
// robot and the region, with a scale bar.
#pragma once

#include <string>
#include <vector>

#include "birdseye/scene.hpp"
#include "lidar_demo/output_monitor.hpp"

namespace lidar_demo {

struct PictureView {
  int size_px{800};
  double metres_per_pixel{0.015};
  birdseye::Region region;
  birdseye::RobotFootprint footprint;
  std::vector<birdseye::Frustum> frusta;
  // One colour per cluster instead of static blue and dynamic red.
  bool colour_clusters{false};
};

birdseye::Scene outputScene(const FrameRecord& record, const PictureView& view,
                            const std::string& title);

// Writes a PNG per chosen record (`frame_NNNNNN.png` in `directory`) and, when `gif_path` is not
// empty, an animated GIF of every `gif_step`-th record at `gif_size_px`, played at the scans'
// rate (`frame_period_s` × step). Returns the paths written. Throws birdseye::RenderError or
// birdseye::GifError naming the file.
std::vector<std::string> writePictures(const std::vector<FrameRecord>& records,
                                       const std::vector<std::size_t>& chosen,
                                       const PictureView& view, const std::string& title,
                                       const std::string& directory, const std::string& gif_path,
                                       std::size_t gif_step, int gif_size_px,
                                       double frame_period_s);

}  // namespace lidar_demo
