#include "stage_contract.hpp"

#include <map>
#include <string>

#include "logger.hpp"

namespace lidar_perception {
namespace trelvon {
namespace {

// Anchor types per map cell, fixed by the network contract.
constexpr long kAnchorsPerCell = 6;

bool CheckEntry(const char* key, const std::map<std::string, int>& lengths, const char* name,
                long limit, bool at_most, const char* what) {
  const auto entry = lengths.find(name);
  if (entry == lengths.end()) {
    LOG_ERROR("Trelvon: backbone.{} has no '{}' entry", key, name);
    return false;
  }
  const bool fits = at_most ? entry->second <= limit : entry->second >= limit;
  if (!fits) {
    LOG_ERROR("Trelvon: backbone.{}['{}'] = {} bytes, but {} {} {} bytes", key, name, entry->second,
              what, at_most ? "holds only" : "reads", limit);
    return false;
  }
  return true;
}

}  // namespace

bool CheckStageContract(const YAML::Node& root, PreProcess& preprocess) {
  const auto input_len = root["backbone"]["input_len"].as<std::map<std::string, int>>();
  const auto output_len = root["backbone"]["output_len"].as<std::map<std::string, int>>();
  const auto feature_size = root["postprocess"]["feature_size"].as<std::vector<long>>();
  const long classes = root["postprocess"]["num_classes"].as<long>();
  // The post-process factory has checked these products against int's range.
  const long anchors = feature_size.at(0) * feature_size.at(1) * kAnchorsPerCell;
  const long float_bytes = static_cast<long>(sizeof(float));

  return CheckEntry("input_len", input_len, "voxels",
                    static_cast<long>(preprocess.GetVoxelsSize()) * float_bytes, true,
                    "the pre-process's voxel buffer") &&
         CheckEntry("input_len", input_len, "coors",
                    static_cast<long>(preprocess.GetCoorsSize()) * 4, true,
                    "the pre-process's coordinate buffer") &&
         CheckEntry("input_len", input_len, "voxel_num", 4, true,
                    "the pre-process's voxel count") &&
         CheckEntry("output_len", output_len, "cls_score", anchors * classes * float_bytes, false,
                    "the post-process") &&
         CheckEntry("output_len", output_len, "bbox_pred", anchors * 7 * float_bytes, false,
                    "the post-process") &&
         CheckEntry("output_len", output_len, "dir_cls_pred", anchors * 2 * float_bytes, false,
                    "the post-process");
}

}  // namespace trelvon
}  // namespace lidar_perception
