// Anchor decoding. Network outputs are written by hand; expected boxes are worked out from the
// anchor grid (50 m x 50 m, 5 x 5 cells of 10 m) and the decoding formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "trelvon/postprocess.hpp"
#include "trelvon_test_support.hpp"

namespace {

using lidar_perception::trelvon::BBox;
using lidar_perception::trelvon::CreatePostProcess;
using lidar_perception::trelvon::CreatePostProcessCpu;
using lidar_perception::trelvon::PostProcess;
using lidar_perception::trelvon::PostProcessParameter;
using trelvon_test::CaptureOutput;
using trelvon_test::Contains;

constexpr double kPi = 3.141592653589793;
constexpr int kRows = 5;
constexpr int kCols = 5;
constexpr int kAnchors = kRows * kCols * 6;

YAML::Node PostConfig(int num_classes) {
  YAML::Node node = YAML::Load(R"(
min_range: [0.0, 0.0, -1.0]
max_range: [50.0, 50.0, 3.0]
feature_size: [5, 5]
num_classes: 3
anchors:
  - [0.8, 0.6, 1.73, 0.0]
  - [0.8, 0.6, 1.73, 1.57]
  - [1.76, 0.6, 1.73, 0.0]
  - [1.76, 0.6, 1.73, 1.57]
  - [3.9, 1.6, 1.56, 0.0]
  - [3.9, 1.6, 1.56, 1.57]
anchor_bottom_heights: [-0.6, -0.5, -1.78]
score_thresh: 0.1
)");
  node["num_classes"] = num_classes;
  return node;
}

// Network outputs for kAnchors anchors: every logit far below any threshold, zero regressions,
// equal direction logits.
struct Outputs {
  explicit Outputs(int classes)
      : num_classes(classes),
        cls(kAnchors * classes, -100.0f),
        box(kAnchors * 7, 0.0f),
        dir(kAnchors * 2, 0.0f) {}
  float& logit(int anchor, int k) { return cls[anchor * num_classes + k]; }
  float* delta(int anchor) { return &box[anchor * 7]; }
  void direction(int anchor, float d0, float d1) {
    dir[anchor * 2] = d0;
    dir[anchor * 2 + 1] = d1;
  }
  int num_classes;
  std::vector<float> cls;
  std::vector<float> box;
  std::vector<float> dir;
};

int Anchor(int row, int col, int type) {
  return (row * kCols + col) * 6 + type;
}

std::vector<BBox> Decode(PostProcess& post, const Outputs& out) {
  post.Forward(out.cls.data(), out.box.data(), out.dir.data());
  return post.GetBboxes();
}

TEST(PostProcessTest, ThresholdScoresAndReplacement) {
  auto post = CreatePostProcessCpu(PostConfig(3));
  ASSERT_NE(post, nullptr);
  Outputs out(3);
  // ln(0.1 / 0.9) = -2.197225: the threshold for score_thresh 0.1.
  out.logit(Anchor(0, 0, 0), 0) = -2.1970f;
  out.logit(Anchor(1, 1, 0), 1) = -2.1975f;
  out.logit(Anchor(2, 2, 0), 2) = 0.0f;
  out.logit(Anchor(3, 3, 0), 0) = std::numeric_limits<float>::quiet_NaN();
  const std::vector<BBox> boxes = Decode(*post, out);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].label, 2);
  EXPECT_FLOAT_EQ(boxes[0].score, 0.5f);  // logit 0
  EXPECT_EQ(boxes[1].label, 0);
  EXPECT_NEAR(boxes[1].score, 0.1f, 1e-4);

  // Nothing above the threshold: the previous boxes are gone.
  EXPECT_TRUE(Decode(*post, Outputs(3)).empty());
  Decode(*post, out);
  EXPECT_TRUE(post->ClearBboxes());
  EXPECT_TRUE(post->GetBboxes().empty());
}

TEST(PostProcessTest, DecodesAgainstTheAnchor) {
  auto post = CreatePostProcessCpu(PostConfig(3));
  ASSERT_NE(post, nullptr);
  {
    SCOPED_TRACE("anchor 0 with zero regressions");
    Outputs out(3);
    out.logit(0, 1) = 2.0f;
    out.direction(0, 2.0f, 1.0f);
    const std::vector<BBox> boxes = Decode(*post, out);
    ASSERT_EQ(boxes.size(), 1u);
    const BBox& b = boxes[0];
    EXPECT_FLOAT_EQ(b.x, 5.0f);  // min x + half a 10 m stride
    EXPECT_FLOAT_EQ(b.y, 5.0f);
    EXPECT_FLOAT_EQ(b.z, -0.6f);  // the bottom height
    EXPECT_FLOAT_EQ(b.length, 0.8f);
    EXPECT_FLOAT_EQ(b.width, 0.6f);
    EXPECT_FLOAT_EQ(b.height, 1.73f);
    EXPECT_NEAR(b.yaw, 0.0f, 1e-6);
    EXPECT_EQ(b.label, 1);
    EXPECT_NEAR(b.score, 1.0 / (1.0 + std::exp(-2.0)), 1e-6);
  }
  {
    SCOPED_TRACE("regressions on the large anchor of cell (row 3, col 1)");
    Outputs out(3);
    const int anchor = Anchor(3, 1, 4);  // 3.9 x 1.6 x 1.56, bottom -1.78
    out.logit(anchor, 0) = 1.0f;
    float* d = out.delta(anchor);
    d[0] = 0.1f;
    d[1] = -0.2f;
    d[2] = 0.5f;
    d[3] = std::log(2.0f);
    d[4] = 0.0f;
    d[5] = std::log(0.5f);
    d[6] = 0.0f;
    out.direction(anchor, 1.0f, 0.0f);
    const std::vector<BBox> boxes = Decode(*post, out);
    ASSERT_EQ(boxes.size(), 1u);
    const BBox& b = boxes[0];
    const double diag = std::sqrt(3.9 * 3.9 + 1.6 * 1.6);  // 4.215448
    EXPECT_NEAR(b.x, 15.0 + 0.1 * diag, 1e-5);
    EXPECT_NEAR(b.y, 35.0 - 0.2 * diag, 1e-5);
    // Anchor centre 0.78 - 1.78 = -1.0; box centre 0.5 x 1.56 + (-1.0); bottom 0.39 lower.
    EXPECT_NEAR(b.z, (0.5 * 1.56 + (0.5 * 1.56 - 1.78)) - 0.5 * 0.78, 1e-5);
    EXPECT_NEAR(b.length, 7.8, 1e-5);
    EXPECT_NEAR(b.width, 1.6, 1e-6);
    EXPECT_NEAR(b.height, 0.78, 1e-6);
    EXPECT_NEAR(b.yaw, 0.0, 1e-6);
  }
}

TEST(PostProcessTest, DirectionBins) {
  auto post = CreatePostProcessCpu(PostConfig(3));
  ASSERT_NE(post, nullptr);
  struct Case {
    int type;
    float dyaw;
    float d0, d1;
    double yaw;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<Case> cases = {
      {0, 0.0f, 2.0f, 1.0f, 0.0},   // bin 0
      {0, 0.0f, 1.0f, 2.0f, kPi},   // bin 1
      {0, 0.0f, 1.0f, 1.0f, kPi},   // equal logits: bin 1
      {0, 0.0f, nan, 1.0f, kPi},    // NaN: bin 1
      {1, 0.0f, 2.0f, 1.0f, 1.57},  // anchor heading 1.57
      {1, 0.0f, 1.0f, 2.0f, 1.57 + kPi},
      {0, 2.0f, 1.0f, 2.0f, 2.0},          // heading 2.0 with the classifier agreeing
      {0, 2.0f, 2.0f, 1.0f, 2.0 - kPi},    // and disagreeing: the opposite heading
      {0, -2.0f, 2.0f, 1.0f, -2.0 + kPi},  // -2.0 lies below the range: +pi, then bin 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "type " << c.type << " dyaw " << c.dyaw << " dir " << c.d0 << "," << c.d1);
    Outputs out(3);
    const int anchor = Anchor(2, 3, c.type);
    out.logit(anchor, 0) = 1.0f;
    out.delta(anchor)[6] = c.dyaw;
    out.direction(anchor, c.d0, c.d1);
    const std::vector<BBox> boxes = Decode(*post, out);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NEAR(boxes[0].yaw, c.yaw, 1e-5);
    EXPECT_GE(boxes[0].yaw, -1.5708f);
    EXPECT_LT(boxes[0].yaw, -1.5707 + 2 * kPi);
  }
}

TEST(PostProcessTest, OrderClassTiesAndSuppression) {
  auto post = CreatePostProcessCpu(PostConfig(3));
  ASSERT_NE(post, nullptr);
  Outputs out(3);
  out.logit(Anchor(0, 0, 0), 0) = 1.0f;
  out.logit(Anchor(4, 4, 0), 2) = 3.0f;
  out.logit(Anchor(2, 0, 0), 0) = 2.0f;
  // Equal best logits: the lower class wins.
  out.logit(Anchor(0, 4, 0), 1) = 1.5f;
  out.logit(Anchor(0, 4, 0), 2) = 1.5f;
  // Same cell, same class, same footprint as the 2.0 box but lower: suppressed. The other
  // heading variant of the same anchor size overlaps it too.
  out.logit(Anchor(2, 0, 1), 0) = 0.5f;
  // Same place, other class: kept.
  out.logit(Anchor(2, 0, 2), 1) = 0.4f;
  const std::vector<BBox> boxes = Decode(*post, out);
  ASSERT_EQ(boxes.size(), 5u);
  const std::vector<int> labels = {2, 0, 1, 0, 1};
  const std::vector<float> xs = {45.0f, 5.0f, 45.0f, 5.0f, 5.0f};
  const std::vector<float> ys = {45.0f, 25.0f, 5.0f, 5.0f, 25.0f};
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i].label, labels[i]) << i;
    EXPECT_FLOAT_EQ(boxes[i].x, xs[i]) << i;
    EXPECT_FLOAT_EQ(boxes[i].y, ys[i]) << i;
    if (i > 0) {
      EXPECT_GE(boxes[i - 1].score, boxes[i].score);
    }
  }
}

TEST(PostProcessTest, KeepsTheHundredHighestLogits) {
  // One class per anchor, so that no box suppresses another and the label names the anchor.
  auto post = CreatePostProcessCpu(PostConfig(kAnchors));
  ASSERT_NE(post, nullptr);
  Outputs out(kAnchors);
  for (int anchor = 0; anchor < 100; ++anchor) {
    out.logit(anchor, anchor) = 1.0f + 0.01f * anchor;
  }
  out.logit(100, 100) = 1.0f;  // equals the lowest of the full heap: not taken
  out.logit(101, 101) = 5.0f;  // replaces anchor 0, the lowest
  const std::vector<BBox> boxes = Decode(*post, out);
  ASSERT_EQ(boxes.size(), 100u);
  EXPECT_EQ(boxes[0].label, 101);
  for (int i = 1; i < 100; ++i) {
    EXPECT_EQ(boxes[i].label, 100 - i);
  }
}

TEST(PostProcessTest, FactoryRejectsConfigurationsOutsideTheLimits) {
  struct Case {
    const char* what;
    std::function<void(YAML::Node&)> change;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"five anchors",
       [](YAML::Node& c) {
         c["anchors"] = YAML::Load(
             "[[1, 1, 1, 0], [1, 1, 1, 0], [1, 1, 1, 0], [1, 1, 1, 0], "
             "[1, 1, 1, 0]]");
       },
       "postprocess.anchors needs at least 6 entries, got 5"},
      {"short anchor", [](YAML::Node& c) { c["anchors"][2] = YAML::Load("[1.0, 1.0, 1.0]"); },
       "postprocess.anchors[2] needs at least 4 entries, got 3"},
      {"two bottom heights",
       [](YAML::Node& c) { c["anchor_bottom_heights"] = YAML::Load("[0.0, 0.0]"); },
       "postprocess.anchor_bottom_heights needs at least 3 entries, got 2"},
      {"score 0", [](YAML::Node& c) { c["score_thresh"] = 0.0; }, "score_thresh"},
      {"score 1", [](YAML::Node& c) { c["score_thresh"] = 1.0; }, "score_thresh"},
      {"score 1.5", [](YAML::Node& c) { c["score_thresh"] = 1.5; },
       "postprocess.score_thresh must lie strictly between 0 and 1, got 1.5"},
      {"empty map", [](YAML::Node& c) { c["feature_size"] = YAML::Load("[0, 5]"); },
       "postprocess.feature_size[0] must be a positive int, got 0"},
      {"one map extent", [](YAML::Node& c) { c["feature_size"] = YAML::Load("[5]"); },
       "postprocess.feature_size needs at least 2 entries, got 1"},
      {"no classes", [](YAML::Node& c) { c["num_classes"] = 0; }, "postprocess.num_classes"},
      {"range", [](YAML::Node& c) { c["max_range"][1] = -1.0; }, "postprocess.min_range[1]"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.what);
    YAML::Node config = PostConfig(3);
    test_case.change(config);
    std::shared_ptr<PostProcess> post;
    const std::string output = CaptureOutput([&] { post = CreatePostProcessCpu(config); });
    EXPECT_EQ(post, nullptr);
    EXPECT_TRUE(Contains(output, test_case.message)) << output;
  }
  {
    SCOPED_TRACE("feature_size not a sequence");
    YAML::Node config = PostConfig(3);
    config["feature_size"] = 5;
    EXPECT_THROW(CreatePostProcessCpu(config), YAML::Exception);
  }
  {
    SCOPED_TRACE("gpu");
    std::shared_ptr<PostProcess> post;
    const std::string output =
        CaptureOutput([&] { post = CreatePostProcess(PostConfig(3), true); });
    EXPECT_EQ(post, nullptr);
    EXPECT_TRUE(Contains(output, "[ERROR] Not support gpu postprocess yet")) << output;
  }
  EXPECT_EQ(PostProcessParameter::ComputeGridSize({50.0f, 50.0f, 3.0f}, {0.0f, 0.0f, -1.0f},
                                                  {10.0f, 2.5f, 4.0f}),
            (std::vector<int>{5, 20, 1}));
}

}  // namespace
