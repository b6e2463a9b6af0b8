// Rotated-box geometry against shapely's exact polygon intersection (pairs and expected values
// generated at build time by make_overlap_cases.py), plus the hand-worked edge cases and the
// class-wise suppression.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "box_overlap_internal.hpp"
#include "nms.hpp"

namespace {

using lidar_perception::trelvon::bev_iou;
using lidar_perception::trelvon::check_in_box2d;
using lidar_perception::trelvon::check_rect_cross;
using lidar_perception::trelvon::DecodedBox;
using lidar_perception::trelvon::nms_by_class;
using lidar_perception::trelvon::Point;
using lidar_perception::trelvon::polygon_overlap_area;
using lidar_perception::trelvon::segment_intersection;

struct OverlapCase {
  std::string name;
  DecodedBox a;
  DecodedBox b;
  double area;
  double iou;
  bool near_margin;
};

std::vector<OverlapCase> ReadCases() {
  std::vector<OverlapCase> cases;
  std::ifstream file(OVERLAP_CASES);
  std::string line;
  while (std::getline(file, line)) {
    std::stringstream fields(line);
    std::string field;
    std::vector<std::string> values;
    while (std::getline(fields, field, ',')) {
      values.push_back(field);
    }
    if (values.size() != 18) {
      ADD_FAILURE() << "malformed line: " << line;
      continue;
    }
    OverlapCase c;
    c.name = values[0];
    for (int i = 0; i < 7; ++i) {
      c.a[i] = std::stof(values[1 + i]);
      c.b[i] = std::stof(values[8 + i]);
    }
    c.area = std::stod(values[15]);
    c.iou = std::stod(values[16]);
    c.near_margin = values[17] == "1";
    cases.push_back(c);
  }
  return cases;
}

double Perimeter(const DecodedBox& box) {
  return 2.0 * (box[3] + box[4]);
}

TEST(BoxOverlapTest, AgreesWithShapely) {
  const std::vector<OverlapCase> cases = ReadCases();
  ASSERT_GE(cases.size(), 400u);
  int exact_cases = 0;
  int overlapping = 0;
  for (const OverlapCase& c : cases) {
    SCOPED_TRACE(c.name);
    const double area = polygon_overlap_area(c.a.data(), c.b.data());
    const double iou = bev_iou(c.a.data(), c.b.data());
    if (c.area > 0.0) {
      ++overlapping;
    }
    if (!c.near_margin) {
      // Float corners of boxes a few metres from the origin: errors of order 1e-6 m.
      ++exact_cases;
      EXPECT_NEAR(area, c.area, 1e-4 + 1e-4 * c.area);
      EXPECT_NEAR(iou, c.iou, 1e-4);
    } else {
      // A corner just outside the other box is taken as inside (0.01 m margin): the polygon gains
      // a sliver no wider than the margin along the edges.
      const double slack = 0.01 * (Perimeter(c.a) + Perimeter(c.b));
      EXPECT_NEAR(area, c.area, slack);
      EXPECT_GE(area, c.area - 1e-4);
    }
  }
  // The comparison must not be carried by the loose cases or by disjoint pairs.
  EXPECT_GT(exact_cases, 350);
  EXPECT_GT(overlapping, 200);
}

TEST(BoxOverlapTest, Predicates) {
  const float box[7] = {0, 0, 0, 4, 2, 1, 0};
  EXPECT_EQ(check_in_box2d(box, {2.005f, 0.0f}), 1);  // within the 0.01 margin
  EXPECT_EQ(check_in_box2d(box, {2.02f, 0.0f}), 0);
  EXPECT_EQ(check_in_box2d(box, {0.0f, 1.009f}), 1);
  EXPECT_EQ(check_in_box2d(box, {0.0f, -1.02f}), 0);
  // Rotated a quarter turn the long side runs along y.
  const float turned[7] = {1, 1, 0, 4, 2, 1, static_cast<float>(M_PI / 2)};
  EXPECT_EQ(check_in_box2d(turned, {1.0f, 2.9f}), 1);
  EXPECT_EQ(check_in_box2d(turned, {2.9f, 1.0f}), 0);

  EXPECT_EQ(check_rect_cross({0, 0}, {1, 0}, {1, 0}, {2, 0}), 1);  // touching rectangles
  EXPECT_EQ(check_rect_cross({0, 0}, {1, 1}, {1.5f, 0}, {2, 1}), 0);
  EXPECT_EQ(check_rect_cross({0, 0}, {1, 1}, {0.5f, 2}, {0.6f, 1.01f}), 0);
}

TEST(BoxOverlapTest, SegmentIntersection) {
  Point out{};
  ASSERT_TRUE(segment_intersection({2, 2}, {0, 0}, {2, 0}, {0, 2}, out));
  EXPECT_NEAR(out.x, 1.0f, 1e-6);
  EXPECT_NEAR(out.y, 1.0f, 1e-6);
  ASSERT_TRUE(segment_intersection({4, 1}, {0, 1}, {3, 3}, {3, -1}, out));
  EXPECT_NEAR(out.x, 3.0f, 1e-6);
  EXPECT_NEAR(out.y, 1.0f, 1e-6);
  EXPECT_FALSE(segment_intersection({1, 1}, {0, 0}, {2, 0}, {1, 1}, out));  // meet at an end
  EXPECT_FALSE(segment_intersection({2, 0}, {0, 0}, {3, 0}, {1, 0}, out));  // collinear
  EXPECT_FALSE(segment_intersection({1, 0}, {0, 0}, {1, 1}, {0, 1}, out));  // parallel
}

TEST(BoxOverlapTest, DegenerateBoxes) {
  const float point_box[7] = {1, 1, 0, 0, 0, 1, 0.3f};
  EXPECT_FLOAT_EQ(polygon_overlap_area(point_box, point_box), 0.0f);
  EXPECT_FLOAT_EQ(bev_iou(point_box, point_box), 0.0f);
  const float box[7] = {0, 0, 0, 4, 2, 1, 0};
  EXPECT_NEAR(bev_iou(box, box), 1.0f, 1e-6);
  const float nan_box[7] = {NAN, 0, 0, 4, 2, 1, 0};
  EXPECT_FLOAT_EQ(polygon_overlap_area(box, nan_box), 0.0f);
}

TEST(NmsTest, SuppressesWithinAClassOnly) {
  const DecodedBox a{0, 0, 0, 2, 2, 1, 0};
  // Axis-aligned 2 x 2 boxes shifted by d along x: overlap 2 (2 - d), union 8 - overlap.
  // IoU 0.02 at d = 1.92157, IoU 0.005 at d = 1.98010.
  const DecodedBox iou_002{1.92157f, 0, 0, 2, 2, 1, 0};
  const DecodedBox iou_0005{1.98010f, 0, 0, 2, 2, 1, 0};
  const DecodedBox far{10, 0, 0, 2, 2, 1, 0};
  ASSERT_NEAR(bev_iou(a.data(), iou_002.data()), 0.02f, 1e-4);
  ASSERT_NEAR(bev_iou(a.data(), iou_0005.data()), 0.005f, 1e-4);

  EXPECT_EQ(nms_by_class({a, a}, {0, 0}, 0.01f), (std::vector<int>{0, -1}));
  EXPECT_EQ(nms_by_class({a, a}, {0, 1}, 0.01f), (std::vector<int>{0, 1}));
  EXPECT_EQ(nms_by_class({a, far}, {2, 2}, 0.01f), (std::vector<int>{0, 1}));
  EXPECT_EQ(nms_by_class({a, iou_002}, {1, 1}, 0.01f), (std::vector<int>{0, -1}));
  EXPECT_EQ(nms_by_class({a, iou_0005}, {1, 1}, 0.01f), (std::vector<int>{0, 1}));
  // b overlaps a and c, a and c are apart: b is suppressed by a and so cannot remove c.
  const DecodedBox b{1.5f, 0, 0, 2, 2, 1, 0};
  const DecodedBox c{3.0f, 0, 0, 2, 2, 1, 0};
  EXPECT_EQ(nms_by_class({a, b, c}, {0, 0, 0}, 0.01f), (std::vector<int>{0, -1, 2}));
  // Classes interleaved in score order: each class is suppressed on its own.
  EXPECT_EQ(nms_by_class({a, a, b, b}, {1, 0, 1, 0}, 0.01f), (std::vector<int>{0, 1, -1, -1}));
  EXPECT_TRUE(nms_by_class({}, {}, 0.01f).empty());
}

}  // namespace
