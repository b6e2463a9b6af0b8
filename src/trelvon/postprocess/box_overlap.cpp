#include <cmath>
#include <utility>

#include "box_overlap_internal.hpp"

namespace lidar_perception {
namespace trelvon {
namespace {

// Enough for every vertex two convex quadrilaterals can contribute: 8 edge crossings and 8
// corners inside the other box (within the margin).
constexpr int kMaxPolygonPoints = 16;

float cross3(const Point& a, const Point& b, const Point& o) {
  return (a.x - o.x) * (b.y - o.y) - (b.x - o.x) * (a.y - o.y);
}

// Corners 0..3 counter-clockwise from (-length/2, -width/2) before rotation; corner 4 repeats 0.
void box_corners(const float* box, Point (&corners)[5]) {
  const float x = box[0];
  const float y = box[1];
  const float length = box[3];
  const float width = box[4];
  float s = 0.0f;
  float c = 0.0f;
  sincosf(box[6], &s, &c);
  const Point unrotated[4] = {{x - length / 2, y - width / 2},
                              {x + length / 2, y - width / 2},
                              {x + length / 2, y + width / 2},
                              {x - length / 2, y + width / 2}};
  for (int k = 0; k < 4; ++k) {
    const float px = unrotated[k].x;
    const float py = unrotated[k].y;
    corners[k] = {(px - x) * c - (py - y) * s + x, (px - x) * s + (py - y) * c + y};
  }
  corners[4] = corners[0];
}

}  // namespace

int check_rect_cross(const Point& p1, const Point& p2, const Point& q1, const Point& q2) {
  const bool overlap =
      fminf(p1.x, p2.x) <= fmaxf(q1.x, q2.x) && fminf(q1.x, q2.x) <= fmaxf(p1.x, p2.x) &&
      fminf(p1.y, p2.y) <= fmaxf(q1.y, q2.y) && fminf(q1.y, q2.y) <= fmaxf(p1.y, p2.y);
  return overlap ? 1 : 0;
}

int check_in_box2d(const float* box, const Point& p) {
  const float margin = 0.01f;
  const float yaw = box[6];
  const float c = cosf(yaw);
  const float s = sinf(-yaw);
  const float dx = p.x - box[0];
  const float dy = p.y - box[1];
  const float rx = dx * c - s * dy;
  if (!(fabsf(rx) < 0.5f * box[3] + margin)) {
    return 0;
  }
  const float ry = dx * s + dy * c;
  return fabsf(ry) < 0.5f * box[4] + margin ? 1 : 0;
}

bool segment_intersection(const Point& p1, const Point& p0, const Point& q1, const Point& q0,
                          Point& out) {
  if (check_rect_cross(p0, p1, q0, q1) == 0) {
    return false;
  }
  const float s1 = cross3(q0, p1, p0);
  const float s2 = cross3(p1, q1, p0);
  const float s3 = cross3(p0, q1, q0);
  const float s4 = cross3(q1, p1, q0);
  if (!(s1 * s2 > 0 && s3 * s4 > 0)) {
    return false;
  }
  const float s5 = cross3(q1, p1, p0);
  if (fabsf(s5 - s1) > 1e-8f) {
    out.x = (s5 * q0.x - s1 * q1.x) / (s5 - s1);
    out.y = (s5 * q0.y - s1 * q1.y) / (s5 - s1);
  } else {
    const float a0 = p0.y - p1.y;
    const float b0 = p1.x - p0.x;
    const float c0 = p0.x * p1.y - p1.x * p0.y;
    const float a1 = q0.y - q1.y;
    const float b1 = q1.x - q0.x;
    const float c1 = q0.x * q1.y - q1.x * q0.y;
    const float d = a0 * b1 - a1 * b0;
    out.x = (b0 * c1 - b1 * c0) / d;
    out.y = (a1 * c0 - a0 * c1) / d;
  }
  return true;
}

float polygon_overlap_area(const float* a, const float* b) {
  Point corners_a[5];
  Point corners_b[5];
  box_corners(a, corners_a);
  box_corners(b, corners_b);

  Point polygon[kMaxPolygonPoints];
  int count = 0;
  Point sum{0.0f, 0.0f};
  auto append = [&](const Point& p) {
    if (count < kMaxPolygonPoints) {
      polygon[count++] = p;
      sum.x += p.x;
      sum.y += p.y;
    }
  };
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      Point crossing{};
      if (segment_intersection(corners_a[i + 1], corners_a[i], corners_b[j + 1], corners_b[j],
                               crossing)) {
        append(crossing);
      }
    }
  }
  for (int k = 0; k < 4; ++k) {
    if (check_in_box2d(a, corners_b[k]) != 0) {
      append(corners_b[k]);
    }
    if (check_in_box2d(b, corners_a[k]) != 0) {
      append(corners_a[k]);
    }
  }
  if (count <= 1) {
    return 0.0f;
  }

  const Point centre{sum.x / static_cast<float>(count), sum.y / static_cast<float>(count)};
  // Angles are computed once per point; the bubble sort keeps equal angles in their order.
  float angle[kMaxPolygonPoints];
  for (int i = 0; i < count; ++i) {
    angle[i] = atan2f(polygon[i].y - centre.y, polygon[i].x - centre.x);
  }
  for (int j = 0; j < count - 1; ++j) {
    for (int i = 0; i < count - j - 1; ++i) {
      if (angle[i] > angle[i + 1]) {
        std::swap(angle[i], angle[i + 1]);
        std::swap(polygon[i], polygon[i + 1]);
      }
    }
  }

  float area = 0.0f;
  for (int k = 0; k < count - 1; ++k) {
    const Point u{polygon[k].x - polygon[0].x, polygon[k].y - polygon[0].y};
    const Point v{polygon[k + 1].x - polygon[0].x, polygon[k + 1].y - polygon[0].y};
    area += u.x * v.y - u.y * v.x;
  }
  return fabsf(area) * 0.5f;
}

float bev_iou(const float* a, const float* b) {
  const float overlap = polygon_overlap_area(a, b);
  return overlap / fmaxf(a[3] * a[4] + b[3] * b[4] - overlap, 1e-8f);
}

}  // namespace trelvon
}  // namespace lidar_perception
