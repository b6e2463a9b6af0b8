// The backbone on the real engine with the small pillar network generated at build time: buffer
// construction, the copies into the engine, and the failure paths.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ai_buff_builder.hpp"
#include "backbone_implement.hpp"
#include "trelvon/backbone.hpp"
#include "trelvon_test_support.hpp"

namespace {

using lidar_perception::trelvon::Backbone;
using lidar_perception::trelvon::BackboneImplement;
using lidar_perception::trelvon::CreateBackbone;
using lidar_perception::trelvon::MakeAIBuff;
using trelvon_test::CaptureOutput;
using trelvon_test::Contains;

const std::string kModel = std::string(TEST_MODEL_DIR) + "/small_pillars.pt";

YAML::Node BackboneConfig() {
  return trelvon_test::SmallConfig(kModel)["backbone"];
}

// Pre-process buffers of the small configuration: 500 pillars of 16 points of 10 features.
struct Inputs {
  std::vector<float> voxels = std::vector<float>(500 * 16 * 10, 0.0f);
  std::vector<int> coors = std::vector<int>(500 * 4, 0);
  int voxel_num = 0;
};

TEST(BackboneTest, BufferSizesFromShapeAndType) {
  const auto int64_buffer = MakeAIBuff(1, {2, 3}, 4);
  EXPECT_EQ(int64_buffer.data->size(), 48u);
  EXPECT_EQ(*int64_buffer.data, std::vector<uint8_t>(48, 0));
  EXPECT_EQ(int64_buffer.format, 1);
  EXPECT_EQ(int64_buffer.shape, (std::vector<long>{2, 3}));
  EXPECT_EQ(MakeAIBuff(0, {2, 3}, 7).data->size(), 24u);  // unknown types count 4 bytes
  EXPECT_EQ(MakeAIBuff(0, {2, 3}, 0).data->size(), 6u);
  EXPECT_EQ(MakeAIBuff(0, {5}, 1).data->size(), 10u);
  EXPECT_EQ(MakeAIBuff(0, {2, 3}, 3).data->size(), 24u);
  EXPECT_EQ(MakeAIBuff(0, {}, 2).data->size(), 4u);  // a scalar
  EXPECT_THROW(MakeAIBuff(0, {2, -3}, 2), std::invalid_argument);
}

TEST(BackboneTest, RunsTheNetworkOnTheCopiedInputs) {
  std::shared_ptr<Backbone> backbone;
  const std::string output = CaptureOutput([&] { backbone = CreateBackbone(BackboneConfig()); });
  ASSERT_NE(backbone, nullptr) << output;
  EXPECT_TRUE(Contains(output, "[INFO] Read model at " + kModel)) << output;
  EXPECT_EQ(backbone->GetClsScoreLen(), 18432);
  EXPECT_EQ(backbone->GetBboxPredLen(), 43008);
  EXPECT_EQ(backbone->GetDirClsPredLen(), 12288);

  Inputs in;
  ASSERT_TRUE(backbone->Forward(in.voxels.data(), in.coors.data(), &in.voxel_num));
  const std::vector<float> empty_scene(static_cast<const float*>(backbone->GetClsScore()),
                                       static_cast<const float*>(backbone->GetClsScore()) + 4608);
  // One pillar with points: the scores around it change, so the inputs did reach the network.
  for (int k = 0; k < 4; ++k) {
    for (int f = 0; f < 10; ++f) {
      in.voxels[k * 10 + f] = 0.3f * (f + 1) - 0.1f * k;
    }
  }
  in.coors[1] = 0;
  in.coors[2] = 10;
  in.coors[3] = 12;
  in.voxel_num = 1;
  ASSERT_TRUE(backbone->Forward(in.voxels.data(), in.coors.data(), &in.voxel_num));
  const float* scores = static_cast<const float*>(backbone->GetClsScore());
  EXPECT_NE(std::vector<float>(scores, scores + 4608), empty_scene);
}

TEST(BackboneTest, FailedInferenceLogsOnceAndLeavesOutputs) {
  auto backbone = CreateBackbone(BackboneConfig());
  ASSERT_NE(backbone, nullptr);
  Inputs in;
  ASSERT_TRUE(backbone->Forward(in.voxels.data(), in.coors.data(), &in.voxel_num));
  const float* scores = static_cast<const float*>(backbone->GetClsScore());
  const std::vector<float> before(scores, scores + 4608);

  in.voxel_num = 501;  // more pillars than the network's capacity: the model raises
  bool result = true;
  const std::string output = CaptureOutput(
      [&] { result = backbone->Forward(in.voxels.data(), in.coors.data(), &in.voxel_num); });
  EXPECT_FALSE(result);
  std::size_t lines = 0;
  for (std::size_t at = output.find("Trelvon forward: DoInference failed"); at != std::string::npos;
       at = output.find("Trelvon forward: DoInference failed", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 1u) << output;
  EXPECT_EQ(std::vector<float>(scores, scores + 4608), before);
}

TEST(BackboneTest, MissingInputLengthThrowsAfterTheFirstCopy) {
  auto backbone = std::dynamic_pointer_cast<BackboneImplement>(CreateBackbone(BackboneConfig()));
  ASSERT_NE(backbone, nullptr);
  backbone->config.input_len.erase("coors");
  Inputs in;
  in.voxels[7] = 3.5f;
  EXPECT_THROW(backbone->Forward(in.voxels.data(), in.coors.data(), &in.voxel_num),
               std::out_of_range);
  float copied = 0.0f;
  std::memcpy(&copied, backbone->inputs.at("voxels").data->data() + 7 * sizeof(float),
              sizeof(float));
  EXPECT_EQ(copied, 3.5f);
}

TEST(BackboneTest, CreationFailures) {
  struct Case {
    const char* what;
    const char* key;
    const char* name;
    int value;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"input longer than its buffer", "input_len", "voxels", 320004,
       "input_len['voxels'] = 320004 bytes does not fit its buffer of 320000 bytes"},
      {"negative input length", "input_len", "voxel_num", -1,
       "input_len['voxel_num'] = -1 bytes does not fit"},
      {"output longer than its buffer", "output_len", "bbox_pred", 43012,
       "output_len['bbox_pred'] = 43012 bytes does not fit its buffer of 43008 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    YAML::Node config = BackboneConfig();
    config[c.key][c.name] = c.value;
    std::shared_ptr<Backbone> backbone;
    const std::string output = CaptureOutput([&] { backbone = CreateBackbone(config); });
    EXPECT_EQ(backbone, nullptr);
    EXPECT_TRUE(Contains(output, c.message)) << output;
  }
  {
    SCOPED_TRACE("engine Init fails");
    YAML::Node config = BackboneConfig();
    config["model_path"] = std::string(TEST_MODEL_DIR) + "/absent.pt";
    std::shared_ptr<Backbone> backbone;
    const std::string output = CaptureOutput([&] { backbone = CreateBackbone(config); });
    EXPECT_EQ(backbone, nullptr);
    EXPECT_TRUE(Contains(output, "absent.pt' cannot be opened")) << output;
  }
  {
    SCOPED_TRACE("missing key");
    YAML::Node config = BackboneConfig();
    config.remove("output_type");
    EXPECT_THROW(CreateBackbone(config), YAML::Exception);
  }
}

}  // namespace
