// YAML encoding of poses and boxes in data set files, shared by the writer and the reader.
#pragma once

#include <Eigen/Geometry>

#include <yaml-cpp/yaml.h>

#include <string>

#include "lidar_sim/ground_truth.hpp"

namespace lidar_sim {

void emitPose(YAML::Emitter& out, const Eigen::Isometry3d& pose);
void emitBox(YAML::Emitter& out, const ObjectBox& box);

// Both throw DatasetError naming `file` and the key.
Eigen::Isometry3d readPose(const YAML::Node& node, const std::string& file, const std::string& key);
ObjectBox readBox(const YAML::Node& node, const std::string& file, const std::string& key);

// Scalar of a required key as T; throws DatasetError naming `file` and `key`.
template <typename T>
T readValue(const YAML::Node& parent, const std::string& key, const std::string& file);

}  // namespace lidar_sim
