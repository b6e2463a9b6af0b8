// Plain-data description of one bird's-eye picture, in metres of a chosen ground frame.
//
// A Scene owns all its data and holds no drawing state; the renderer reads it and never keeps
// references into it. Points carry an index into `classes`, so a caller colours by whatever labels
// it has (ground truth, the node's output, clusters) by building the class list it needs.
//
// Picture convention: +x of the ground frame points right, +y points up (counter-clockwise angles
// turn counter-clockwise on the picture, as in rviz's top-down view); the ground point `centre_x`,
// `centre_y` lands on the picture's centre, and one pixel spans `metres_per_pixel` metres.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace birdseye {

// A colour with channels in [0, 1].
struct Rgb {
  double r{0.0};
  double g{0.0};
  double b{0.0};
};

// One colour class of points; `in_legend` false keeps it out of the legend (many clusters).
struct PointClass {
  std::string name;
  Rgb colour;
  bool in_legend{true};
};

struct ScenePoint {
  double x{0.0};
  double y{0.0};
  std::uint16_t class_index{0};  // index into Scene::classes
};

// A box read as the node reads a detection (trelvon::BBox): `width` lies along the yaw direction
// and `length` across it; yaw is counter-clockwise from +x, radians.
struct SceneBox {
  double x{0.0};
  double y{0.0};
  double length{0.0};
  double width{0.0};
  double yaw{0.0};
  Rgb colour{0.0, 0.0, 0.0};
};

// A virtual camera's horizontal field: the wedge from `start_deg` to `end_deg` (counter-clockwise
// from +x) around the apex, `range` metres deep. Inside a region it is cut at the region's edge.
struct Frustum {
  double apex_x{0.0};
  double apex_y{0.0};
  double start_deg{0.0};
  double end_deg{90.0};
  double range{5.0};
};

// The robot body in the base frame: x from `x_back` to `x_front`, y within +-`y_half`.
struct RobotFootprint {
  double x_front{0.41};
  double x_back{-0.315};
  double y_half{0.255};
};

// The region of interest: x within +-`x_half`, y within +-`y_half`.
struct Region {
  double x_half{5.0};
  double y_half{5.0};
};

// Colours of the parts that are not per-item data.
struct Style {
  Rgb background{1.0, 1.0, 1.0};
  Rgb region{0.45, 0.45, 0.45};
  Rgb frustum{0.95, 0.65, 0.0};
  Rgb footprint{0.0, 0.55, 0.25};
  Rgb text{0.1, 0.1, 0.1};
  Rgb scale_bar{0.0, 0.0, 0.0};
};

struct Scene {
  int width_px{800};
  int height_px{800};
  double metres_per_pixel{0.015};
  double centre_x{0.0};
  double centre_y{0.0};
  double point_size_px{3.0};  // side of the square drawn per point

  std::vector<PointClass> classes;
  std::vector<ScenePoint> points;  // drawn in order: later points cover earlier ones
  std::vector<SceneBox> boxes;
  std::string box_legend{"box"};  // the boxes' legend entry
  std::vector<Frustum> frusta;
  std::optional<RobotFootprint> footprint;
  std::optional<Region> region;

  std::vector<std::string> caption;  // lines at the top left (frame number, time)
  bool scale_bar{true};              // bottom left
  bool legend{true};                 // top right
  Style style;
};

// Throws std::invalid_argument naming the first field that is out of range: an image side outside
// 16..8192 pixels, metres_per_pixel or point_size_px not positive and finite, a point's class
// index beyond `classes`, a non-finite coordinate, a negative box size, a region, footprint or
// frustum with a negative or non-finite extent, a frustum spanning more than 360 degrees.
void validateScene(const Scene& scene);

}  // namespace birdseye
