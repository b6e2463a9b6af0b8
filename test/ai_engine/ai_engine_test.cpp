// The inference engine on real TorchScript files generated at build time: element types and
// their sizes, data passing for every type, the checks of Init against the model, and failures
// at inference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ai_engine/ai_engine.hpp"

namespace {

using norvel::alg::common::AIBuff;
using norvel::alg::common::AIDataFormat;
using norvel::alg::common::AIDataType;
using norvel::alg::common::AIEngine;
using norvel::alg::common::AIEngineConfig;

const std::string kModelDir = TEST_MODEL_DIR;

// Runs `action` and returns what it wrote to standard output (the logger's console sink).
std::string CaptureOutput(const std::function<void()>& action) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

void AddBuffer(std::map<std::string, int>& len, std::map<std::string, std::vector<int64_t>>& shape,
               std::map<std::string, AIDataType>& type, const std::string& name,
               std::vector<int64_t> extents, AIDataType element, int bytes) {
  len[name] = bytes;
  shape[name] = std::move(extents);
  type[name] = element;
}

// The typed_echo model: inputs a..e of the five element types, outputs <name>_out = input + 1.
AIEngineConfig EchoConfig() {
  AIEngineConfig config;
  config.model_path = kModelDir + "/typed_echo.pt";
  auto add = [&config](const std::string& name, std::vector<int64_t> extents, AIDataType type,
                       int bytes) {
    AddBuffer(config.input_len, config.input_shape, config.input_type, name, extents, type, bytes);
    AddBuffer(config.output_len, config.output_shape, config.output_type, name + "_out", extents,
              type, bytes);
  };
  add("a", {3}, norvel::alg::common::kAIUint8, 3);
  add("b", {2}, norvel::alg::common::kAIFloat16, 4);
  add("c", {2, 2}, norvel::alg::common::kAIFloat32, 16);
  add("d", {2}, norvel::alg::common::kAIInt32, 8);
  add("e", {2}, norvel::alg::common::kAIInt64, 16);
  config.num_threads = 1;
  return config;
}

// Buffers sized from the configuration, as the detector's backbone builds them.
std::map<std::string, AIBuff> MakeBuffers(const std::map<std::string, int>& len,
                                          const std::map<std::string, std::vector<int64_t>>& shape,
                                          const std::map<std::string, AIDataType>& type) {
  std::map<std::string, AIBuff> buffers;
  for (const auto& entry : len) {
    AIBuff buffer;
    const auto extents = shape.find(entry.first);
    if (extents != shape.end()) {
      buffer.shape.assign(extents->second.begin(), extents->second.end());
    }
    const auto element = type.find(entry.first);
    buffer.type = element == type.end() ? 0 : element->second;
    buffer.data = std::make_shared<std::vector<uint8_t>>(entry.second, 0);
    buffers[entry.first] = buffer;
  }
  return buffers;
}

template <typename T>
void Write(AIBuff& buffer, const std::vector<T>& values) {
  ASSERT_EQ(buffer.data->size(), values.size() * sizeof(T));
  std::memcpy(buffer.data->data(), values.data(), buffer.data->size());
}

template <typename T>
std::vector<T> Read(const AIBuff& buffer) {
  std::vector<T> values(buffer.data->size() / sizeof(T));
  std::memcpy(values.data(), buffer.data->data(), values.size() * sizeof(T));
  return values;
}

TEST(AIDataTypeTest, ElementSizesAndNames) {
  using norvel::alg::common::DataTypeName;
  using norvel::alg::common::ElementSize;
  EXPECT_EQ(ElementSize(0), 1u);
  EXPECT_EQ(ElementSize(1), 2u);
  EXPECT_EQ(ElementSize(2), 4u);
  EXPECT_EQ(ElementSize(3), 4u);
  EXPECT_EQ(ElementSize(4), 8u);
  EXPECT_EQ(ElementSize(7), 0u);
  EXPECT_EQ(ElementSize(-1), 0u);
  EXPECT_EQ(DataTypeName(1), "float16");
  EXPECT_EQ(DataTypeName(7), "unknown(7)");
}

TEST(AIEngineTest, PassesEveryElementTypeThroughTheModel) {
  const AIEngineConfig config = EchoConfig();
  AIEngine engine;
  ASSERT_EQ(engine.Init(config), 0);
  auto inputs = MakeBuffers(config.input_len, config.input_shape, config.input_type);
  auto outputs = MakeBuffers(config.output_len, config.output_shape, config.output_type);
  Write<uint8_t>(inputs["a"], {1, 2, 255});
  Write<uint16_t>(inputs["b"], {0x3E00, 0xB800});  // float16 1.5 and -0.5
  Write<float>(inputs["c"], {1.0f, -2.0f, 0.25f, 1e6f});
  Write<int32_t>(inputs["d"], {-1, 7});
  Write<int64_t>(inputs["e"], {int64_t{1} << 40, -5});

  ASSERT_EQ(engine.DoInference(inputs, outputs), 0);
  EXPECT_EQ(Read<uint8_t>(outputs["a_out"]), (std::vector<uint8_t>{2, 3, 0}));  // uint8 wraps
  EXPECT_EQ(Read<uint16_t>(outputs["b_out"]),
            (std::vector<uint16_t>{0x4100, 0x3800}));  // 2.5 and 0.5
  EXPECT_EQ(Read<float>(outputs["c_out"]), (std::vector<float>{2.0f, -1.0f, 1.25f, 1000001.0f}));
  EXPECT_EQ(Read<int32_t>(outputs["d_out"]), (std::vector<int32_t>{0, 8}));
  EXPECT_EQ(Read<int64_t>(outputs["e_out"]), (std::vector<int64_t>{(int64_t{1} << 40) + 1, -4}));

  // The model reads the blocks on every call, not a copy taken at the first one.
  Write<int32_t>(inputs["d"], {41, -42});
  ASSERT_EQ(engine.DoInference(inputs, outputs), 0);
  EXPECT_EQ(Read<int32_t>(outputs["d_out"]), (std::vector<int32_t>{42, -41}));
}

TEST(AIEngineTest, InitRejectsConfigurationsThatDoNotMatchTheModel) {
  struct Case {
    const char* what;
    std::function<void(AIEngineConfig&)> change;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"model input without a buffer", [](AIEngineConfig& c) { c.input_len.erase("c"); },
       "model input 'c' has no configured buffer"},
      {"buffer the model does not take",
       [](AIEngineConfig& c) {
         c.input_len["z"] = 4;
         c.input_shape["z"] = {1};
         c.input_type["z"] = norvel::alg::common::kAIFloat32;
       },
       "configured input 'z' is not an input of the model"},
      {"wrong output shape", [](AIEngineConfig& c) { c.output_shape["a_out"] = {4}; },
       "output 'a_out' has shape [3], the configuration says [4]"},
      {"wrong input shape",
       [](AIEngineConfig& c) {
         c.input_shape["c"] = {3, 3};
       },
       "output 'c_out' has shape [3, 3], the configuration says [2, 2]"},
      {"wrong output type",
       [](AIEngineConfig& c) { c.output_type["d_out"] = norvel::alg::common::kAIFloat32; },
       "output 'd_out' has type int32, the configuration says float32"},
      {"output the model does not produce",
       [](AIEngineConfig& c) {
         c.output_len["f_out"] = 4;
         c.output_shape["f_out"] = {1};
         c.output_type["f_out"] = norvel::alg::common::kAIFloat32;
       },
       "output 'f_out' is not produced by the model"},
      {"unknown type code", [](AIEngineConfig& c) { c.input_type["a"] = AIDataType(7); },
       "input 'a' has type code 7"},
      {"unknown format code", [](AIEngineConfig& c) { c.output_format["a_out"] = AIDataFormat(9); },
       "output 'a_out' has format code 9"},
      {"shape missing", [](AIEngineConfig& c) { c.input_shape.erase("e"); },
       "input 'e' has no input_shape entry"},
      {"unimplemented framework", [](AIEngineConfig& c) { c.framework = 2; },
       "framework 2 is not supported"},
      {"missing model file", [](AIEngineConfig& c) { c.model_path = kModelDir + "/none.pt"; },
       "cannot be opened"},
      {"file that is no model", [](AIEngineConfig& c) { c.model_path = TEST_SOURCE_FILE; },
       "is not a loadable TorchScript model"},
      {"no threads", [](AIEngineConfig& c) { c.num_threads = 0; },
       "num_threads must be >= 1, got 0"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.what);
    AIEngineConfig config = EchoConfig();
    test_case.change(config);
    AIEngine engine;
    int result = 0;
    const std::string output = CaptureOutput([&] { result = engine.Init(config); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(output.find("[ERROR]"), std::string::npos) << output;
    EXPECT_NE(output.find(test_case.message), std::string::npos) << output;

    // An engine whose Init failed refuses to run rather than touching the buffers.
    auto inputs = MakeBuffers(config.input_len, config.input_shape, config.input_type);
    auto outputs = MakeBuffers(config.output_len, config.output_shape, config.output_type);
    EXPECT_EQ(engine.DoInference(inputs, outputs), 1);
  }
}

// The pillar network of the detector, shrunk: 64 pillars of 16 points, a 16 x 16 grid, 8 x 8
// output cells of 6 anchors, 2 classes.
AIEngineConfig SmallPillarsConfig() {
  AIEngineConfig config;
  config.model_path = kModelDir + "/small_pillars.pt";
  AddBuffer(config.input_len, config.input_shape, config.input_type, "voxels", {64, 16, 10},
            norvel::alg::common::kAIFloat32, 64 * 16 * 10 * 4);
  AddBuffer(config.input_len, config.input_shape, config.input_type, "coors", {64, 4},
            norvel::alg::common::kAIInt32, 64 * 4 * 4);
  AddBuffer(config.input_len, config.input_shape, config.input_type, "voxel_num", {1},
            norvel::alg::common::kAIInt32, 4);
  const int anchors = 8 * 8 * 6;
  AddBuffer(config.output_len, config.output_shape, config.output_type, "cls_score", {anchors, 2},
            norvel::alg::common::kAIFloat32, anchors * 2 * 4);
  AddBuffer(config.output_len, config.output_shape, config.output_type, "bbox_pred", {anchors, 7},
            norvel::alg::common::kAIFloat32, anchors * 7 * 4);
  AddBuffer(config.output_len, config.output_shape, config.output_type, "dir_cls_pred",
            {anchors, 2}, norvel::alg::common::kAIFloat32, anchors * 2 * 4);
  return config;
}

TEST(AIEngineTest, FailedInferenceIsReportedAndLeavesOutputsAlone) {
  const AIEngineConfig config = SmallPillarsConfig();
  AIEngine engine;
  ASSERT_EQ(engine.Init(config), 0);
  auto inputs = MakeBuffers(config.input_len, config.input_shape, config.input_type);
  auto outputs = MakeBuffers(config.output_len, config.output_shape, config.output_type);
  ASSERT_EQ(engine.DoInference(inputs, outputs), 0);
  const std::vector<float> first = Read<float>(outputs["cls_score"]);

  {
    SCOPED_TRACE("the model rejects a pillar count above its capacity");
    Write<int32_t>(inputs["voxel_num"], {65});
    int result = 0;
    const std::string output = CaptureOutput([&] { result = engine.DoInference(inputs, outputs); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(output.find("AIEngine: inference failed: "), std::string::npos) << output;
    EXPECT_NE(output.find("voxel_num out of range"), std::string::npos) << output;
    EXPECT_EQ(Read<float>(outputs["cls_score"]), first);
  }
  {
    SCOPED_TRACE("an input block shorter than its shape");
    Write<int32_t>(inputs["voxel_num"], {0});
    inputs["coors"].data->resize(8);
    int result = 0;
    const std::string output = CaptureOutput([&] { result = engine.DoInference(inputs, outputs); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(output.find("input 'coors' holds 8 bytes, its shape needs 1024"), std::string::npos)
        << output;
  }
  {
    SCOPED_TRACE("an output block missing");
    inputs["coors"].data->assign(64 * 4 * 4, 0);
    outputs.erase("bbox_pred");
    int result = 0;
    const std::string output = CaptureOutput([&] { result = engine.DoInference(inputs, outputs); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(output.find("output 'bbox_pred' is missing"), std::string::npos) << output;
  }
}

}  // namespace
