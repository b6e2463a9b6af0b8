#include "trelvon/preprocess.hpp"

#include <fmt/format.h>

#include <climits>
#include <cmath>
#include <stdexcept>

#include "config_check.hpp"
#include "logger.hpp"
#include "pillar_feature.hpp"
#include "preprocess_implement_cpu.hpp"

namespace lidar_perception {
namespace trelvon {
namespace {

// The kernel allocates a dense index table of the whole grid on every pass; beyond this many
// cells (256 MiB of ints) a configuration is taken for a mistake.
constexpr long kMaxGridCells = 1L << 26;

}  // namespace

std::vector<int> VoxelizationParameter::ComputeGridSize(const std::vector<float>& upper,
                                                        const std::vector<float>& lower,
                                                        const std::vector<float>& voxel_size) {
  if (upper.size() < 3 || lower.size() < 3 || voxel_size.size() < 3) {
    throw std::invalid_argument(
        fmt::format("ComputeGridSize needs 3 values per argument, got {}, {} and {}", upper.size(),
                    lower.size(), voxel_size.size()));
  }
  std::vector<int> grid_size(3);
  for (int i = 0; i < 3; ++i) {
    const float extent = roundf((upper[i] - lower[i]) / voxel_size[i]);
    // Converting NaN or a value beyond int's range is undefined; refuse it instead.
    if (!(std::fabs(extent) <= static_cast<float>(INT_MAX / 2))) {
      throw std::invalid_argument(
          fmt::format("ComputeGridSize: axis {} gives {} cells from [{}, {}] in steps of {}", i,
                      extent, lower[i], upper[i], voxel_size[i]));
    }
    grid_size[i] = static_cast<int>(extent);
  }
  return grid_size;
}

std::shared_ptr<PreProcess> CreatePreProcess(const YAML::Node& node, bool use_gpu) {
  if (use_gpu) {
    LOG_ERROR("Not support gpu preprocess yet");
    return nullptr;
  }
  return CreatePreProcessCpu(node);
}

std::shared_ptr<PreProcess> CreatePreProcessCpu(const YAML::Node& node) {
  const int max_points = node["max_points"].as<int>();
  const float height_offset = node["height_offset"].as<float>();
  const YAML::Node pillar = node["pillar"];
  const auto min_range = pillar["min_range"].as<std::vector<float>>();
  const auto max_range = pillar["max_range"].as<std::vector<float>>();
  const auto voxel_size = pillar["voxel_size"].as<std::vector<float>>();
  const int max_voxels = pillar["max_voxels"].as<int>();
  const int max_points_per_voxel = pillar["max_points_per_voxel"].as<int>();
  const int num_feature = pillar["num_feature"].as<int>();
  const bool legacy = pillar["legacy"].as<bool>();

  if (!CheckPositive("preprocess", "max_points", max_points) ||
      !CheckIntProduct("preprocess", "max_points x 4", {max_points, 4}) ||
      !CheckPositive("preprocess.pillar", "max_voxels", max_voxels) ||
      !CheckPositive("preprocess.pillar", "max_points_per_voxel", max_points_per_voxel) ||
      !CheckIntProduct("preprocess.pillar", "max_voxels x max_points_per_voxel x num_feature x 4",
                       {max_voxels, max_points_per_voxel, num_feature, 4}) ||
      !CheckRange("preprocess.pillar", "min_range", min_range, "max_range", max_range, 3) ||
      !CheckPositiveValues("preprocess.pillar", "voxel_size", voxel_size, 3)) {
    return nullptr;
  }
  if (!std::isfinite(height_offset)) {
    LOG_ERROR("trelvon config: preprocess.height_offset must be finite, got {}", height_offset);
    return nullptr;
  }
  if (num_feature != PillarFeature::kFeatureCount) {
    LOG_ERROR("trelvon config: preprocess.pillar.num_feature must be {}, got {}",
              PillarFeature::kFeatureCount, num_feature);
    return nullptr;
  }
  std::vector<int> grid;
  try {
    grid = VoxelizationParameter::ComputeGridSize(max_range, min_range, voxel_size);
  } catch (const std::invalid_argument& e) {
    LOG_ERROR("trelvon config: preprocess.pillar: {}", e.what());
    return nullptr;
  }
  const long cells = static_cast<long>(grid[0]) * grid[1] * grid[2];
  if (grid[0] < 1 || grid[1] < 1 || grid[2] < 1 || cells > kMaxGridCells) {
    LOG_ERROR(
        "trelvon config: preprocess.pillar range and voxel_size give a grid of {} x {} x {}; "
        "each extent must be >= 1 and the grid at most {} cells",
        grid[0], grid[1], grid[2], kMaxGridCells);
    return nullptr;
  }

  auto feature = std::make_shared<PillarFeature>(min_range, max_range, voxel_size, max_voxels,
                                                 max_points_per_voxel, num_feature, legacy);
  return std::make_shared<PreProcessImplementCpu>(max_points, height_offset, std::move(feature));
}

}  // namespace trelvon
}  // namespace lidar_perception
