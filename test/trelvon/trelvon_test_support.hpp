// Helpers shared by the detector's tests: output capture and a small detector configuration
// matching the small_pillars model generated at build time.
#pragma once

#include <yaml-cpp/yaml.h>

#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace trelvon_test {

// Runs `action` and returns what it wrote to standard output (the logger's console and puts).
inline std::string CaptureOutput(const std::function<void()>& action) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A 10.24 m square, 32 x 32 pillars of 0.32 m, 500 pillars of 16 points, a 16 x 16 output map
// of 6 anchors and 3 classes: 1536 anchors.
inline YAML::Node SmallConfig(const std::string& model_path) {
  return YAML::Load(R"(
enable_timer: false
use_gpu: false
preprocess:
  max_points: 20000
  height_offset: 0.0
  pillar:
    min_range: [-5.12, -5.12, -1.0]
    max_range: [5.12, 5.12, 3.0]
    voxel_size: [0.32, 0.32, 4.0]
    max_voxels: 500
    max_points_per_voxel: 16
    num_feature: 10
    legacy: false
backbone:
  model_path: ")" + model_path +
                    R"("
  framework: 0
  rk_want_float_flag: true
  num_threads: 1
  input_len: {voxels: 320000, coors: 8000, voxel_num: 4}
  output_len: {cls_score: 18432, bbox_pred: 43008, dir_cls_pred: 12288}
  input_shape: {voxels: [500, 16, 10], coors: [500, 4], voxel_num: [1]}
  output_shape: {cls_score: [1536, 3], bbox_pred: [1536, 7], dir_cls_pred: [1536, 2]}
  input_format: {voxels: 2, coors: 2, voxel_num: 2}
  output_format: {cls_score: 2, bbox_pred: 2, dir_cls_pred: 2}
  input_type: {voxels: 2, coors: 3, voxel_num: 3}
  output_type: {cls_score: 2, bbox_pred: 2, dir_cls_pred: 2}
postprocess:
  min_range: [-5.12, -5.12, -1.0]
  max_range: [5.12, 5.12, 3.0]
  feature_size: [16, 16]
  num_classes: 3
  anchors:
    - [0.8, 0.6, 1.73, 0.0]
    - [0.8, 0.6, 1.73, 1.57]
    - [1.76, 0.6, 1.73, 0.0]
    - [1.76, 0.6, 1.73, 1.57]
    - [3.9, 1.6, 1.56, 0.0]
    - [3.9, 1.6, 1.56, 1.57]
  anchor_bottom_heights: [0.0, 0.0, 0.0]
  score_thresh: 0.1
)");
}

}  // namespace trelvon_test
