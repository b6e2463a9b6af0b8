// Builds a bird's-eye Scene from one simulated frame, in the robot's base frame at the stamp.
#pragma once

#include <string>
#include <vector>

#include "birdseye/scene.hpp"
#include "lidar_sim/simulated_frame.hpp"

namespace birdseye {

enum class Colouring {
  kLabel,   // ground / static / dynamic from the simulator's truth
  kObject,  // one colour per scene object (the floor stays ground-coloured)
};

// A virtual camera's horizontal field, degrees counter-clockwise from the base frame's +x.
struct CameraSpan {
  double start_deg{0.0};
  double end_deg{90.0};
};

// How a frame is shown. Defaults follow the node's shipped parameters (region of +-5 m, the
// robot body, one camera from 0 to 90 degrees).
struct FrameView {
  int width_px{800};
  int height_px{800};
  double metres_per_pixel{0.015};
  Region region;
  RobotFootprint footprint;
  std::vector<CameraSpan> cameras{CameraSpan{}};
  Colouring colouring{Colouring::kLabel};
  double max_z{2.0};       // points higher above the base frame are left out (the ceiling)
  bool truth_boxes{true};  // outline the truth boxes of people, carts and cyclists
};

// Ground, static and dynamic, in the order of lidar_sim::PointLabel's values.
std::vector<PointClass> groundTruthClasses();

// Moves each point from the lidar frame of its own instant into the base frame at the frame's
// stamp (the robot pose interpolated between map_to_base and map_to_base_end), keeps those at or
// below `max_z`, and colours them as `view.colouring` says, ground first and dynamic on top.
// Agent truth boxes are handed over in the node's box reading (their length, along the heading,
// becomes the width). `title` starts the caption. Throws std::logic_error for an inconsistent
// frame.
Scene sceneFromFrame(const lidar_sim::SimulatedFrame& frame, const FrameView& view,
                     const std::string& title);

}  // namespace birdseye
