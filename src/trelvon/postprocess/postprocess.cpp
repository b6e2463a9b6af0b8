#include "trelvon/postprocess.hpp"

#include "trelvon/preprocess.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "config_check.hpp"
#include "logger.hpp"
#include "postprocess_implement_cpu.hpp"

namespace lidar_perception {
namespace trelvon {

// The anchor grid is laid out exactly like the pillar grid, so both share one computation.
std::vector<int> PostProcessParameter::ComputeGridSize(const std::vector<float>& upper,
                                                       const std::vector<float>& lower,
                                                       const std::vector<float>& voxel_size) {
  return VoxelizationParameter::ComputeGridSize(upper, lower, voxel_size);
}

std::shared_ptr<PostProcess> CreatePostProcess(const YAML::Node& node, bool use_gpu) {
  if (use_gpu) {
    LOG_ERROR("Not support gpu postprocess yet");
    return nullptr;
  }
  return CreatePostProcessCpu(node);
}

std::shared_ptr<PostProcess> CreatePostProcessCpu(const YAML::Node& node) {
  auto post = std::make_shared<PostProcessImplementCpu>();
  post->min_range = node["min_range"].as<std::vector<float>>();
  post->max_range = node["max_range"].as<std::vector<float>>();
  post->feature_size = node["feature_size"].as<std::vector<int>>();
  post->num_classes = node["num_classes"].as<int>();
  post->anchors = node["anchors"].as<std::vector<std::vector<float>>>();
  post->anchor_bottom_heights = node["anchor_bottom_heights"].as<std::vector<float>>();
  post->score_thresh = node["score_thresh"].as<float>();

  const char* section = "postprocess";
  if (!CheckRange(section, "min_range", post->min_range, "max_range", post->max_range, 2) ||
      !CheckCount(section, "feature_size", post->feature_size.size(), 2) ||
      !CheckPositive(section, "feature_size[0]", post->feature_size[0]) ||
      !CheckPositive(section, "feature_size[1]", post->feature_size[1]) ||
      !CheckPositive(section, "num_classes", post->num_classes) ||
      !CheckIntProduct(section, "feature_size x 6 x num_classes x 4",
                       {post->feature_size[0], post->feature_size[1], post->num_anchors,
                        post->num_classes, 4}) ||
      !CheckIntProduct(section, "feature_size x 6 x 7 x 4",
                       {post->feature_size[0], post->feature_size[1], post->num_anchors, 7, 4}) ||
      !CheckCount(section, "anchors", post->anchors.size(), post->num_anchors) ||
      !CheckCount(section, "anchor_bottom_heights", post->anchor_bottom_heights.size(),
                  post->num_anchors / 2)) {
    return nullptr;
  }
  for (int type = 0; type < post->num_anchors; ++type) {
    const std::vector<float>& anchor = post->anchors[type];
    const std::string key = fmt::format("anchors[{}]", type);
    if (!CheckCount(section, key.c_str(), anchor.size(), 4)) {
      return nullptr;
    }
  }
  if (!(post->score_thresh > 0.0f && post->score_thresh < 1.0f)) {
    LOG_ERROR("trelvon config: postprocess.score_thresh must lie strictly between 0 and 1, got {}",
              post->score_thresh);
    return nullptr;
  }
  return post;
}

}  // namespace trelvon
}  // namespace lidar_perception
