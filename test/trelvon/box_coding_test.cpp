// The post-process decodes what the trainer encodes: for boxes turned into network outputs by
// tools/trainer/box_coding.py (make_coding_cases.py), the shipped configuration's post-process,
// fed outputs where only that box's anchor fires, returns the box itself.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "trelvon/postprocess.hpp"

namespace {

using lidar_perception::trelvon::BBox;
using lidar_perception::trelvon::CreatePostProcessCpu;

constexpr double kPi = 3.141592653589793;

struct Case {
  int anchor;
  int cls;
  float regression[7];
  float direction[2];
  double box[7];
};

std::vector<Case> ReadCases() {
  std::vector<Case> cases;
  std::ifstream file(CODING_CASES);
  std::string line;
  while (std::getline(file, line)) {
    std::stringstream fields(line);
    std::string field;
    std::vector<double> values;
    while (std::getline(fields, field, ',')) {
      values.push_back(std::stod(field));
    }
    if (values.size() != 18) {
      ADD_FAILURE() << "bad line: " << line;
      continue;
    }
    Case c{};
    c.anchor = static_cast<int>(values[0]);
    c.cls = static_cast<int>(values[1]);
    for (int k = 0; k < 7; ++k) {
      c.regression[k] = static_cast<float>(values[2 + k]);
      c.box[k] = values[11 + k];
    }
    c.direction[0] = static_cast<float>(values[9]);
    c.direction[1] = static_cast<float>(values[10]);
    cases.push_back(c);
  }
  return cases;
}

double HeadingError(double a, double b) {
  return std::abs(std::remainder(a - b, 2.0 * kPi));
}

TEST(BoxCodingTest, TheShippedPostProcessDecodesTheTrainersTargets) {
  const YAML::Node root = YAML::LoadFile(DEFAULT_CONFIG);
  const YAML::Node config = root["postprocess"];
  auto post = CreatePostProcessCpu(config);
  ASSERT_NE(post, nullptr);
  const auto size = config["feature_size"].as<std::vector<int>>();
  const int classes = config["num_classes"].as<int>();
  const int anchors = size.at(0) * size.at(1) * 6;
  const std::vector<Case> cases = ReadCases();
  ASSERT_GE(cases.size(), 100u);
  for (const Case& c : cases) {
    SCOPED_TRACE("anchor " + std::to_string(c.anchor));
    std::vector<float> cls(static_cast<std::size_t>(anchors) * classes, -20.0f);
    std::vector<float> box(static_cast<std::size_t>(anchors) * 7, 0.0f);
    std::vector<float> dir(static_cast<std::size_t>(anchors) * 2, 0.0f);
    cls[static_cast<std::size_t>(c.anchor) * classes + c.cls] = 3.0f;
    for (int k = 0; k < 7; ++k) {
      box[static_cast<std::size_t>(c.anchor) * 7 + k] = c.regression[k];
    }
    dir[static_cast<std::size_t>(c.anchor) * 2] = c.direction[0];
    dir[static_cast<std::size_t>(c.anchor) * 2 + 1] = c.direction[1];
    post->Forward(cls.data(), box.data(), dir.data());
    const std::vector<BBox>& boxes = post->GetBboxes();
    ASSERT_EQ(boxes.size(), 1u);
    const BBox& b = boxes[0];
    EXPECT_EQ(b.label, c.cls);
    EXPECT_NEAR(b.score, 1.0 / (1.0 + std::exp(-3.0)), 1e-6);
    EXPECT_NEAR(b.x, c.box[0], 1e-4);
    EXPECT_NEAR(b.y, c.box[1], 1e-4);
    EXPECT_NEAR(b.z, c.box[2], 1e-4);
    EXPECT_NEAR(b.length, c.box[3], 1e-4);
    EXPECT_NEAR(b.width, c.box[4], 1e-4);
    EXPECT_NEAR(b.height, c.box[5], 1e-4);
    EXPECT_LT(HeadingError(b.yaw, c.box[6]), 1e-4) << b.yaw << " vs " << c.box[6];
  }
}

}  // namespace
