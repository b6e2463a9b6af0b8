// The sizes the three stages must agree on, checked once when the detector is built.
#pragma once

#include <yaml-cpp/yaml.h>

#include "trelvon/backbone.hpp"
#include "trelvon/preprocess.hpp"

namespace lidar_perception {
namespace trelvon {

// True when every network input the backbone copies (backbone.input_len of "voxels", "coors",
// "voxel_num") exists and fits the pre-process buffer it is copied from, and every network output
// the post-process reads (backbone.output_len of "cls_score", "bbox_pred", "dir_cls_pred") holds at
// least H x W x 6 x C, x 7 and x 2 floats. Otherwise logs the first entry that does not fit and
// returns false. `root` is the trelvon.yaml root the stages were built from.
bool CheckStageContract(const YAML::Node& root, PreProcess& preprocess);

}  // namespace trelvon
}  // namespace lidar_perception
