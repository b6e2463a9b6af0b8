// Voxelization and pillar features. Expected values are worked out by hand from the grid
// (x, y in [0, 4) with 1 m pillars, z in [-1, 3) as one 4 m layer) and the feature definitions.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "trelvon/preprocess.hpp"
#include "trelvon/voxelization.hpp"
#include "trelvon_test_support.hpp"

namespace {

using lidar_perception::trelvon::CreatePreProcess;
using lidar_perception::trelvon::CreatePreProcessCpu;
using lidar_perception::trelvon::PreProcess;
using lidar_perception::trelvon::VoxelizationParameter;
using trelvon_test::CaptureOutput;
using trelvon_test::Contains;

constexpr int kPillars = 3;  // M
constexpr int kSlots = 2;    // P
constexpr int kFeatures = 10;

YAML::Node SmallPreProcessConfig() {
  return YAML::Load(R"(
max_points: 10
height_offset: 0.0
pillar:
  min_range: [0.0, 0.0, -1.0]
  max_range: [4.0, 4.0, 3.0]
  voxel_size: [1.0, 1.0, 4.0]
  max_voxels: 3
  max_points_per_voxel: 2
  num_feature: 10
  legacy: false
)");
}

// Read access to the stage's buffers in their documented layouts.
struct View {
  std::shared_ptr<PreProcess> stage;
  int voxel_num() const { return *static_cast<const int*>(stage->GetVoxelNum()); }
  float feature(int pillar, int slot, int f) const {
    return static_cast<const float*>(stage->GetVoxels())[(pillar * kSlots + slot) * kFeatures + f];
  }
  std::vector<int> coor(int pillar) const {
    const int* row = static_cast<const int*>(stage->GetCoors()) + 4 * pillar;
    return {row[0], row[1], row[2], row[3]};
  }
  bool slot_empty(int pillar, int slot) const {
    for (int f = 0; f < kFeatures; ++f) {
      if (feature(pillar, slot, f) != 0.0f) {
        return false;
      }
    }
    return true;
  }
};

View MakeStage(const YAML::Node& config = SmallPreProcessConfig()) {
  View view{CreatePreProcessCpu(config)};
  EXPECT_NE(view.stage, nullptr);
  return view;
}

pcl::PointCloud<pcl::PointXYZ>::Ptr Cloud(const std::vector<std::vector<float>>& points) {
  auto cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
  for (const auto& p : points) {
    cloud->points.emplace_back(p[0], p[1], p[2]);
  }
  return cloud;
}

TEST(PreProcessTest, SizesAndEmptyCloud) {
  View view = MakeStage();
  EXPECT_EQ(view.stage->GetVoxelsSize(), kPillars * kSlots * kFeatures);
  EXPECT_EQ(view.stage->GetCoorsSize(), kPillars * 4);
  EXPECT_EQ(view.stage->GetPointFeatureNum(), 4);

  // A first pass fills a pillar; an empty cloud afterwards must leave nothing of it behind.
  view.stage->Forward(Cloud({{1.5f, 2.5f, 0.0f}}));
  ASSERT_EQ(view.voxel_num(), 1);
  view.stage->Forward(Cloud({}));
  EXPECT_EQ(view.voxel_num(), 0);
  EXPECT_EQ(view.stage->GetPointsSize(), 0);
  for (int v = 0; v < kPillars; ++v) {
    EXPECT_EQ(view.coor(v), (std::vector<int>{0, 0, 0, 0}));
    for (int k = 0; k < kSlots; ++k) {
      EXPECT_TRUE(view.slot_empty(v, k));
    }
  }
  // A missing cloud is encoded like an empty one.
  view.stage->Forward(pcl::PointCloud<pcl::PointXYZ>::Ptr());
  EXPECT_EQ(view.voxel_num(), 0);
}

TEST(PreProcessTest, TwoPointsInOnePillar) {
  View view = MakeStage();
  view.stage->Forward(Cloud({{2.2f, 1.3f, 0.5f}, {2.6f, 1.9f, 1.5f}}));
  ASSERT_EQ(view.voxel_num(), 1);
  // Column 0 zero, then z, y, x indices.
  EXPECT_EQ(view.coor(0), (std::vector<int>{0, 0, 1, 2}));
  // Mean (2.4, 1.6, 1.0); centre (2.5, 1.5, 1.0).
  const float expected[2][10] = {{2.2f, 1.3f, 0.5f, 0.0f, -0.2f, -0.3f, -0.5f, -0.3f, -0.2f, -0.5f},
                                 {2.6f, 1.9f, 1.5f, 0.0f, 0.2f, 0.3f, 0.5f, 0.1f, 0.4f, 0.5f}};
  for (int k = 0; k < 2; ++k) {
    for (int f = 0; f < kFeatures; ++f) {
      EXPECT_NEAR(view.feature(0, k, f), expected[k][f], 1e-6) << "slot " << k << " feature " << f;
    }
  }
  EXPECT_TRUE(view.slot_empty(1, 0));
}

TEST(PreProcessTest, GridBoundaries) {
  View view = MakeStage();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  view.stage->Forward(Cloud({{4.0f, 1.0f, 0.0f},        // x on max_range: outside
                             {1.0f, 4.0f, 0.0f},        // y on max_range: outside
                             {1.0f, 1.0f, 3.0f},        // z on max_range: outside
                             {-0.001f, 1.0f, 0.0f},     // just below min x
                             {nan, 1.0f, 0.0f},         // NaN
                             {1.0f, inf, 0.0f},         // infinite
                             {1e30f, 1.0f, 0.0f},       // far beyond an int index
                             {0.0f, 3.999f, -1.0f}}));  // on min x and min z: index 0
  ASSERT_EQ(view.voxel_num(), 1);
  EXPECT_EQ(view.coor(0), (std::vector<int>{0, 0, 3, 0}));
  EXPECT_FLOAT_EQ(view.feature(0, 0, 0), 0.0f);
  EXPECT_FLOAT_EQ(view.feature(0, 0, 1), 3.999f);
}

TEST(PreProcessTest, CapacitiesDropLaterPoints) {
  View view = MakeStage();
  // Pillars reached in order (0,0), (1,0), (2,0), (3,0): the fourth is beyond M = 3. The first
  // pillar receives three points, one beyond P = 2, and one more after the overflow.
  view.stage->Forward(Cloud({{0.1f, 0.1f, 0.0f},
                             {0.2f, 0.2f, 0.0f},
                             {0.3f, 0.3f, 0.0f},
                             {1.5f, 0.5f, 0.0f},
                             {2.5f, 0.5f, 0.0f},
                             {3.5f, 0.5f, 0.0f},
                             {2.7f, 0.5f, 0.0f}}));
  ASSERT_EQ(view.voxel_num(), kPillars);
  EXPECT_EQ(view.coor(0), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(view.coor(1), (std::vector<int>{0, 0, 0, 1}));
  EXPECT_EQ(view.coor(2), (std::vector<int>{0, 0, 0, 2}));
  EXPECT_FLOAT_EQ(view.feature(0, 0, 0), 0.1f);
  EXPECT_FLOAT_EQ(view.feature(0, 1, 0), 0.2f);  // 0.3 was the third: dropped
  EXPECT_FLOAT_EQ(view.feature(2, 0, 0), 2.5f);
  EXPECT_FLOAT_EQ(view.feature(2, 1, 0), 2.7f);  // an existing pillar still takes points
  // Mean over the two stored points only: 0.15.
  EXPECT_NEAR(view.feature(0, 0, 4), -0.05f, 1e-6);
}

TEST(PreProcessTest, MaxPointsKeepsTheFirstPoints) {
  YAML::Node config = SmallPreProcessConfig();
  config["max_points"] = 2;
  View view = MakeStage(config);
  view.stage->Forward(Cloud({{0.5f, 0.5f, 0.0f}, {1.5f, 0.5f, 0.0f}, {2.5f, 0.5f, 0.0f}}));
  EXPECT_EQ(view.stage->GetPointsSize(), 8);
  EXPECT_EQ(view.voxel_num(), 2);
  EXPECT_FLOAT_EQ(view.stage->GetPoints()[4], 1.5f);
}

TEST(PreProcessTest, FourthFeatureHeightOffsetAndLegacy) {
  {
    SCOPED_TRACE("XYZI input carries the intensity, XYZ input 0");
    View view = MakeStage();
    auto cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZI>>();
    pcl::PointXYZI point;
    point.x = 0.5f;
    point.y = 0.5f;
    point.z = 0.0f;
    point.intensity = 42.0f;
    cloud->points.push_back(point);
    view.stage->Forward(cloud);
    EXPECT_FLOAT_EQ(view.feature(0, 0, 3), 42.0f);
    EXPECT_FLOAT_EQ(view.stage->GetPoints()[3], 42.0f);
    view.stage->Forward(Cloud({{0.5f, 0.5f, 0.0f}, {0.6f, 0.5f, 0.0f}}));
    EXPECT_FLOAT_EQ(view.feature(0, 0, 3), 0.0f);
    EXPECT_FLOAT_EQ(view.feature(0, 1, 3), 0.0f);
  }
  {
    SCOPED_TRACE("height_offset 1.5 lifts z = -1.0 to 0.5 before voxelization");
    YAML::Node config = SmallPreProcessConfig();
    config["height_offset"] = 1.5;
    View view = MakeStage(config);
    view.stage->Forward(Cloud({{0.5f, 0.5f, -1.0f}, {0.5f, 0.5f, -2.6f}}));  // -1.1: outside
    EXPECT_FLOAT_EQ(view.stage->GetPoints()[2], 0.5f);
    EXPECT_FLOAT_EQ(view.feature(0, 0, 2), 0.5f);
    EXPECT_FLOAT_EQ(view.feature(0, 0, 9), 0.5f - 1.0f);
    EXPECT_TRUE(view.slot_empty(0, 1));
  }
  {
    SCOPED_TRACE("legacy: features 0-2 are the centre offsets, means still from raw values");
    YAML::Node config = SmallPreProcessConfig();
    config["pillar"]["legacy"] = true;
    View view = MakeStage(config);
    view.stage->Forward(Cloud({{2.2f, 1.3f, 0.5f}, {2.6f, 1.9f, 1.5f}}));
    for (int k = 0; k < 2; ++k) {
      for (int f = 0; f < 3; ++f) {
        EXPECT_FLOAT_EQ(view.feature(0, k, f), view.feature(0, k, 7 + f));
      }
    }
    EXPECT_NEAR(view.feature(0, 0, 0), -0.3f, 1e-6);
    EXPECT_NEAR(view.feature(0, 0, 4), -0.2f, 1e-6);
  }
}

TEST(PreProcessTest, FactoryRejectsBadValuesAndGpu) {
  struct Case {
    const char* key;
    std::function<void(YAML::Node&)> change;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"max_points", [](YAML::Node& c) { c["max_points"] = 0; }, "preprocess.max_points"},
      {"max_voxels", [](YAML::Node& c) { c["pillar"]["max_voxels"] = -4; },
       "preprocess.pillar.max_voxels must be a positive int, got -4"},
      {"num_feature", [](YAML::Node& c) { c["pillar"]["num_feature"] = 9; },
       "preprocess.pillar.num_feature must be 10, got 9"},
      {"voxel_size", [](YAML::Node& c) { c["pillar"]["voxel_size"][1] = 0.0; },
       "preprocess.pillar.voxel_size[1]"},
      {"range", [](YAML::Node& c) { c["pillar"]["min_range"][0] = 4.0; },
       "preprocess.pillar.min_range[0]"},
      {"short range", [](YAML::Node& c) { c["pillar"]["max_range"] = YAML::Load("[4.0, 4.0]"); },
       "preprocess.pillar.max_range needs at least 3 entries, got 2"},
      {"buffer too large", [](YAML::Node& c) { c["pillar"]["max_voxels"] = 100000000; },
       "does not fit"},
      {"huge grid",
       [](YAML::Node& c) { c["pillar"]["voxel_size"] = YAML::Load("[1e-4, 1e-4, 4]"); }, "grid"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.key);
    YAML::Node config = SmallPreProcessConfig();
    test_case.change(config);
    std::shared_ptr<PreProcess> stage;
    const std::string output = CaptureOutput([&] { stage = CreatePreProcessCpu(config); });
    EXPECT_EQ(stage, nullptr);
    EXPECT_TRUE(Contains(output, test_case.message)) << output;
  }
  {
    SCOPED_TRACE("missing key");
    YAML::Node config = SmallPreProcessConfig();
    config["pillar"].remove("legacy");
    EXPECT_THROW(CreatePreProcessCpu(config), YAML::Exception);
  }
  {
    SCOPED_TRACE("gpu");
    std::shared_ptr<PreProcess> stage;
    const std::string output =
        CaptureOutput([&] { stage = CreatePreProcess(SmallPreProcessConfig(), true); });
    EXPECT_EQ(stage, nullptr);
    EXPECT_TRUE(Contains(output, "[ERROR] Not support gpu preprocess yet")) << output;
    EXPECT_NE(CreatePreProcess(SmallPreProcessConfig(), false), nullptr);
  }
}

TEST(VoxelizationTest, KernelLimitsAndArguments) {
  using lidar_perception::voxelization::hard_voxelize_cpu;
  using lidar_perception::voxelization::RowMajorTensorMap;
  // Five points in five distinct cells of a 5 x 1 x 1 grid, tensors with room for 4 voxels of
  // 2 slots: -1 (unbounded) is still held to the tensors' size.
  const std::vector<float> points{0.5f, 0, 0, 1.5f, 0, 0, 2.5f, 0, 0, 3.5f, 0, 0, 4.5f, 0, 0};
  std::vector<float> voxels(4 * 2 * 3, 7.0f);
  std::vector<int> coors(4 * 3, 7);
  std::vector<int> counts(4, 7);
  const Eigen::TensorMap<const Eigen::Tensor<float, 2, Eigen::RowMajor, long>> point_map(
      points.data(), 5, 3);
  RowMajorTensorMap<float, 3> voxel_map(voxels.data(), 4, 2, 3);
  RowMajorTensorMap<int, 2> coor_map(coors.data(), 4, 3);
  RowMajorTensorMap<int, 1> count_map(counts.data(), 4);
  const std::vector<float> size{1.0f, 1.0f, 1.0f};
  const std::vector<float> range{0.0f, 0.0f, 0.0f, 5.0f, 1.0f, 1.0f};

  auto voxelize = [&](RowMajorTensorMap<float, 3>& target, const std::vector<float>& sizes,
                      int max_points, int max_voxels, int ndim) {
    return hard_voxelize_cpu<float, int>(point_map, target, coor_map, count_map, sizes, range,
                                         max_points, max_voxels, ndim);
  };
  EXPECT_EQ(voxelize(voxel_map, size, -1, -1, 3), 4);
  EXPECT_EQ(coors, (std::vector<int>{0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3}));
  EXPECT_EQ(counts, (std::vector<int>{1, 1, 1, 1}));
  EXPECT_FLOAT_EQ(voxels[1 * 6 + 0], 1.5f);
  EXPECT_FLOAT_EQ(voxels[1 * 6 + 3], 0.0f);  // second slot zeroed, not left at 7

  EXPECT_EQ(voxelize(voxel_map, size, 1, 2, 3), 2);
  EXPECT_EQ(counts, (std::vector<int>{1, 1, 0, 0}));

  EXPECT_THROW(voxelize(voxel_map, size, 1, 2, 2), std::invalid_argument);
  EXPECT_THROW(voxelize(voxel_map, {1.0f, 0.0f, 1.0f}, 1, 2, 3), std::invalid_argument);
  RowMajorTensorMap<float, 3> narrow(voxels.data(), 4, 3, 2);
  EXPECT_THROW(voxelize(narrow, size, 1, 2, 3), std::invalid_argument);
}

TEST(VoxelizationTest, GridSize) {
  EXPECT_EQ(VoxelizationParameter::ComputeGridSize({4.0f, 4.0f, 3.0f}, {0.0f, 0.0f, -1.0f},
                                                   {1.0f, 1.0f, 4.0f}),
            (std::vector<int>{4, 4, 1}));
  // 20.48 / 0.16 = 128; 1 / 0.3 = 3.33 rounds to 3; 0.625 / 0.25 = 2.5 rounds away from zero.
  EXPECT_EQ(VoxelizationParameter::ComputeGridSize({10.24f, 1.0f, 0.625f}, {-10.24f, 0.0f, 0.0f},
                                                   {0.16f, 0.3f, 0.25f}),
            (std::vector<int>{128, 3, 3}));
  EXPECT_THROW(VoxelizationParameter::ComputeGridSize({1.0f}, {0.0f}, {1.0f}),
               std::invalid_argument);
}

}  // namespace
