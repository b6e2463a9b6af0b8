#include "birdseye/render.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "birdseye/scale_bar.hpp"
#include "box_footprint.hpp"

namespace birdseye {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Pixel {
  double u;
  double v;
};

// Ground metres to picture pixels: +x right, +y up, the scene centre on the picture's centre.
class ViewMapping {
 public:
  explicit ViewMapping(const Scene& scene)
      : half_w_(scene.width_px / 2.0),
        half_h_(scene.height_px / 2.0),
        inv_mpp_(1.0 / scene.metres_per_pixel),
        cx_(scene.centre_x),
        cy_(scene.centre_y) {}
  Pixel toPixel(double x, double y) const {
    return {half_w_ + (x - cx_) * inv_mpp_, half_h_ - (y - cy_) * inv_mpp_};
  }
  double toPixels(double metres) const { return metres * inv_mpp_; }

 private:
  double half_w_;
  double half_h_;
  double inv_mpp_;
  double cx_;
  double cy_;
};

void setColour(cairo_t* cr, const Rgb& c, double alpha = 1.0) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void polygonPath(cairo_t* cr, const std::vector<Pixel>& corners) {
  cairo_new_path(cr);
  for (std::size_t i = 0; i < corners.size(); ++i) {
    if (i == 0) {
      cairo_move_to(cr, corners[i].u, corners[i].v);
    } else {
      cairo_line_to(cr, corners[i].u, corners[i].v);
    }
  }
  cairo_close_path(cr);
}

std::vector<Pixel> rectangleCorners(const ViewMapping& view, double x0, double y0, double x1,
                                    double y1) {
  return {view.toPixel(x0, y0), view.toPixel(x1, y0), view.toPixel(x1, y1), view.toPixel(x0, y1)};
}

void drawRegion(cairo_t* cr, const ViewMapping& view, const Region& region, const Style& style) {
  polygonPath(cr,
              rectangleCorners(view, -region.x_half, -region.y_half, region.x_half, region.y_half));
  setColour(cr, style.region, 0.06);
  cairo_fill_preserve(cr);
  const double dashes[] = {6.0, 4.0};
  cairo_set_dash(cr, dashes, 2, 0.0);
  cairo_set_line_width(cr, 1.5);
  setColour(cr, style.region);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0.0);
}

void drawFrustum(cairo_t* cr, const ViewMapping& view, const Frustum& frustum,
                 const std::optional<Region>& region, const Style& style) {
  cairo_save(cr);
  if (region) {
    polygonPath(cr, rectangleCorners(view, -region->x_half, -region->y_half, region->x_half,
                                     region->y_half));
    cairo_clip(cr);
  }
  std::vector<Pixel> wedge{view.toPixel(frustum.apex_x, frustum.apex_y)};
  const double sweep = frustum.end_deg - frustum.start_deg;
  const int steps = std::max(1, static_cast<int>(std::ceil(std::abs(sweep))));
  for (int i = 0; i <= steps; ++i) {
    const double angle = (frustum.start_deg + sweep * i / steps) * kPi / 180.0;
    wedge.push_back(view.toPixel(frustum.apex_x + frustum.range * std::cos(angle),
                                 frustum.apex_y + frustum.range * std::sin(angle)));
  }
  polygonPath(cr, wedge);
  setColour(cr, style.frustum, 0.15);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1.0);
  setColour(cr, style.frustum, 0.8);
  cairo_stroke(cr);
  cairo_restore(cr);
}

// Squares of point_size_px centred on each point, filled once per run of equal class.
void drawPoints(cairo_t* cr, const ViewMapping& view, const Scene& scene) {
  const double side = scene.point_size_px;
  std::size_t i = 0;
  while (i < scene.points.size()) {
    const std::uint16_t cls = scene.points[i].class_index;
    cairo_new_path(cr);
    for (; i < scene.points.size() && scene.points[i].class_index == cls; ++i) {
      const Pixel p = view.toPixel(scene.points[i].x, scene.points[i].y);
      if (p.u < -side || p.v < -side || p.u > scene.width_px + side ||
          p.v > scene.height_px + side) {
        continue;
      }
      cairo_rectangle(cr, p.u - side / 2.0, p.v - side / 2.0, side, side);
    }
    setColour(cr, scene.classes[cls].colour);
    cairo_fill(cr);
  }
}

// The outline the node uses for a detection, with a tick from the centre towards its yaw.
void drawBox(cairo_t* cr, const ViewMapping& view, const SceneBox& box) {
  lidar_perception::trelvon::BBox bbox{};
  bbox.x = static_cast<float>(box.x);
  bbox.y = static_cast<float>(box.y);
  bbox.length = static_cast<float>(box.length);
  bbox.width = static_cast<float>(box.width);
  bbox.yaw = static_cast<float>(box.yaw);
  const lidar_perception::BoxFootprint corners = lidar_perception::boxFootprint(bbox);
  std::vector<Pixel> outline;
  for (const auto& c : corners) {
    outline.push_back(view.toPixel(c.x, c.y));
  }
  polygonPath(cr, outline);
  setColour(cr, box.colour, 0.12);
  cairo_fill_preserve(cr);
  setColour(cr, box.colour);
  cairo_set_line_width(cr, 2.0);
  cairo_stroke(cr);
  // Corners B and C are the +width/2 side, the one the yaw points to.
  const Pixel centre = view.toPixel(box.x, box.y);
  const Pixel front =
      view.toPixel((corners[1].x + corners[2].x) / 2.0, (corners[1].y + corners[2].y) / 2.0);
  cairo_move_to(cr, centre.u, centre.v);
  cairo_line_to(cr, front.u, front.v);
  cairo_set_line_width(cr, 2.0);
  cairo_stroke(cr);
}

void drawFootprint(cairo_t* cr, const ViewMapping& view, const RobotFootprint& fp,
                   const Style& style) {
  polygonPath(cr, rectangleCorners(view, fp.x_back, -fp.y_half, fp.x_front, fp.y_half));
  setColour(cr, style.footprint, 0.2);
  cairo_fill_preserve(cr);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_set_line_width(cr, 2.0);
  setColour(cr, style.footprint);
  cairo_stroke(cr);
  // A heading arrow along +x from the base origin to the front edge.
  const Pixel origin = view.toPixel(0.0, 0.0);
  const Pixel nose = view.toPixel(fp.x_front, 0.0);
  cairo_move_to(cr, origin.u, origin.v);
  cairo_line_to(cr, nose.u, nose.v);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
}

void selectFont(cairo_t* cr, double size) {
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

// A 4-pixel bar from x = 16 px, its lower edge 20 px above the bottom, scaleBarMetres long.
void drawScaleBar(cairo_t* cr, const Scene& scene) {
  const Style& style = scene.style;
  const double metres = scaleBarMetres(scene.metres_per_pixel, scene.width_px);
  const double length_px = metres / scene.metres_per_pixel;
  const double x0 = 16.0;
  const double y_bottom = scene.height_px - 20.0;
  setColour(cr, style.background, 0.75);
  cairo_rectangle(cr, x0 - 6.0, y_bottom - 22.0, length_px + 12.0, 30.0);
  cairo_fill(cr);
  setColour(cr, style.scale_bar);
  cairo_rectangle(cr, x0, y_bottom - 4.0, length_px, 4.0);
  cairo_fill(cr);
  selectFont(cr, 11.0);
  setColour(cr, style.text);
  cairo_move_to(cr, x0, y_bottom - 8.0);
  cairo_show_text(cr, fmt::format("{:g} m", metres).c_str());
}

void drawCaption(cairo_t* cr, const Scene& scene) {
  const Style& style = scene.style;
  selectFont(cr, 13.0);
  double y = 20.0;
  for (const std::string& line : scene.caption) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, line.c_str(), &extents);
    setColour(cr, style.background, 0.75);
    cairo_rectangle(cr, 6.0, y - 14.0, extents.x_advance + 8.0, 18.0);
    cairo_fill(cr);
    setColour(cr, style.text);
    cairo_move_to(cr, 10.0, y);
    cairo_show_text(cr, line.c_str());
    y += 18.0;
  }
}

enum class SwatchShape { kFilled, kOutline, kWedge };

struct LegendEntry {
  std::string name;
  Rgb colour;
  SwatchShape shape;
};

void drawLegend(cairo_t* cr, const Scene& scene) {
  const Style& style = scene.style;
  std::vector<LegendEntry> entries;
  for (const PointClass& c : scene.classes) {
    if (c.in_legend) {
      entries.push_back({c.name, c.colour, SwatchShape::kFilled});
    }
  }
  if (!scene.boxes.empty()) {
    entries.push_back({scene.box_legend, scene.boxes.front().colour, SwatchShape::kOutline});
  }
  if (!scene.frusta.empty()) {
    entries.push_back({"camera", style.frustum, SwatchShape::kWedge});
  }
  if (scene.footprint) {
    entries.push_back({"robot", style.footprint, SwatchShape::kOutline});
  }
  if (scene.region) {
    entries.push_back({"region", style.region, SwatchShape::kOutline});
  }
  if (entries.empty()) {
    return;
  }
  selectFont(cr, 12.0);
  double text_width = 0.0;
  for (const LegendEntry& e : entries) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, e.name.c_str(), &extents);
    text_width = std::max(text_width, extents.x_advance);
  }
  const double row = 18.0;
  const double box_w = text_width + 34.0;
  const double box_h = row * entries.size() + 8.0;
  const double x0 = scene.width_px - box_w - 8.0;
  const double y0 = 8.0;
  cairo_rectangle(cr, x0, y0, box_w, box_h);
  setColour(cr, style.background, 0.85);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1.0);
  setColour(cr, style.region);
  cairo_stroke(cr);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const LegendEntry& e = entries[i];
    const double sy = y0 + 6.0 + row * i;
    cairo_rectangle(cr, x0 + 8.0, sy + 2.0, 12.0, 12.0);
    switch (e.shape) {
      case SwatchShape::kFilled:
        setColour(cr, e.colour);
        cairo_fill(cr);
        break;
      case SwatchShape::kWedge:
        setColour(cr, e.colour, 0.35);
        cairo_fill_preserve(cr);
        setColour(cr, e.colour);
        cairo_set_line_width(cr, 1.0);
        cairo_stroke(cr);
        break;
      case SwatchShape::kOutline:
        setColour(cr, e.colour);
        cairo_set_line_width(cr, 2.0);
        cairo_stroke(cr);
        break;
    }
    setColour(cr, style.text);
    cairo_move_to(cr, x0 + 26.0, sy + 13.0);
    cairo_show_text(cr, e.name.c_str());
  }
}

void checkStatus(cairo_status_t status, const std::string& what) {
  if (status != CAIRO_STATUS_SUCCESS) {
    throw RenderError(fmt::format("{}: {}", what, cairo_status_to_string(status)));
  }
}

}  // namespace

CairoSurface renderImage(const Scene& scene) {
  validateScene(scene);
  CairoSurface surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, scene.width_px, scene.height_px));
  checkStatus(cairo_surface_status(surface.get()), "cannot create the picture");
  CairoContext context(cairo_create(surface.get()));
  cairo_t* cr = context.get();
  checkStatus(cairo_status(cr), "cannot draw the picture");

  const ViewMapping view(scene);
  const Style& style = scene.style;
  setColour(cr, style.background);
  cairo_paint(cr);
  if (scene.region) {
    drawRegion(cr, view, *scene.region, style);
  }
  for (const Frustum& frustum : scene.frusta) {
    drawFrustum(cr, view, frustum, scene.region, style);
  }
  drawPoints(cr, view, scene);
  for (const SceneBox& box : scene.boxes) {
    drawBox(cr, view, box);
  }
  if (scene.footprint) {
    drawFootprint(cr, view, *scene.footprint, style);
  }
  if (scene.scale_bar) {
    drawScaleBar(cr, scene);
  }
  if (scene.legend) {
    drawLegend(cr, scene);
  }
  drawCaption(cr, scene);
  checkStatus(cairo_status(cr), "drawing the picture failed");
  cairo_surface_flush(surface.get());
  return surface;
}

void renderPng(const Scene& scene, const std::string& path) {
  const CairoSurface surface = renderImage(scene);
  const cairo_status_t status = cairo_surface_write_to_png(surface.get(), path.c_str());
  if (status != CAIRO_STATUS_SUCCESS) {
    throw RenderError(
        fmt::format("cannot write PNG file '{}': {}", path, cairo_status_to_string(status)));
  }
}

}  // namespace birdseye
