// The detector through libtrelvon's exported interface, as the node uses it: creation from a
// trelvon.yaml root, forward passes on the real engine, box list life cycle and log lines.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <type_traits>
#include <vector>

#include <spdlog/sinks/base_sink.h>

#include "logger.hpp"
#include "trelvon.hpp"
#include "trelvon_test_support.hpp"

namespace {

using lidar_perception::trelvon::BBox;
using lidar_perception::trelvon::CreateTrelvon;
using lidar_perception::trelvon::Trelvon;
using trelvon_test::CaptureOutput;
using trelvon_test::Contains;

const std::string kModelDir = TEST_MODEL_DIR;

YAML::Node SmallConfig() {
  return trelvon_test::SmallConfig(kModelDir + "/small_pillars.pt");
}

// A floor-standing scene: a few upright boxes of points, 60 points each, seeded.
template <typename PointT>
typename pcl::PointCloud<PointT>::Ptr Scene(float intensity = 10.0f) {
  auto cloud = std::make_shared<pcl::PointCloud<PointT>>();
  std::mt19937 generator(17);
  std::uniform_real_distribution<float> unit(-0.5f, 0.5f);
  const float centres[][2] = {{-3.0f, 2.0f}, {1.0f, 1.0f}, {2.5f, -3.0f}, {-1.5f, -2.0f}};
  for (const auto& centre : centres) {
    for (int i = 0; i < 60; ++i) {
      PointT point;
      point.x = centre[0] + 0.8f * unit(generator);
      point.y = centre[1] + 0.6f * unit(generator);
      point.z = 0.85f + 1.7f * unit(generator);
      if constexpr (std::is_same_v<PointT, pcl::PointXYZI>) {
        point.intensity = intensity;
      }
      cloud->points.push_back(point);
    }
  }
  return cloud;
}

// Records the source location of every message, as the journal sink would send it.
class LocationSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<std::string> records;

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    records.push_back(std::string(msg.source.filename) + " " + msg.source.funcname + " " +
                      std::string(msg.payload.data(), msg.payload.size()));
  }
  void flush_() override {}
};

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// What every box list must satisfy whatever the network says.
void ExpectWellFormed(const std::vector<BBox>& boxes, float score_thresh, int num_classes) {
  EXPECT_LE(boxes.size(), 100u);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const BBox& b = boxes[i];
    EXPECT_GT(b.score, score_thresh);
    EXPECT_LT(b.score, 1.0f);
    EXPECT_GE(b.label, 0);
    EXPECT_LT(b.label, num_classes);
    EXPECT_GE(b.yaw, -1.5708f);
    EXPECT_LT(b.yaw, -1.5707f + 2.0f * static_cast<float>(M_PI));
    EXPECT_GT(b.length, 0.0f);
    if (i > 0) {
      EXPECT_GE(boxes[i - 1].score, b.score);
    }
  }
}

TEST(TrelvonTest, DefaultConfigurationRunsEndToEnd) {
  YAML::Node root = YAML::LoadFile(DEFAULT_CONFIG);
  root["backbone"]["model_path"] = DEFAULT_MODEL;
  std::shared_ptr<Trelvon> detector;
  const std::string output = CaptureOutput([&] { detector = CreateTrelvon(root); });
  ASSERT_NE(detector, nullptr) << output;
  EXPECT_TRUE(Contains(output, "[INFO] use cpu to preprocess && postprocess")) << output;
  detector->Forward(Scene<pcl::PointXYZ>());
  EXPECT_FALSE(detector->GetBboxes().empty());
  ExpectWellFormed(detector->GetBboxes(), root["postprocess"]["score_thresh"].as<float>(), 3);
}

TEST(TrelvonTest, BoxListLifeCycle) {
  auto detector = CreateTrelvon(SmallConfig());
  ASSERT_NE(detector, nullptr);
  detector->Forward(Scene<pcl::PointXYZ>());
  const std::vector<BBox> first = detector->GetBboxes();
  ASSERT_FALSE(first.empty()) << "the test scene must give boxes with the small model";
  ExpectWellFormed(first, 0.1f, 3);

  // The same cloud gives the same boxes: nothing of a pass leaks into the next.
  detector->Forward(Scene<pcl::PointXYZ>());
  ASSERT_EQ(detector->GetBboxes().size(), first.size());
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(detector->GetBboxes()[i].x, first[i].x);
    EXPECT_EQ(detector->GetBboxes()[i].score, first[i].score);
  }

  // An empty cloud clears the old boxes and runs nothing.
  const std::string output =
      CaptureOutput([&] { detector->Forward(std::make_shared<pcl::PointCloud<pcl::PointXYZ>>()); });
  EXPECT_TRUE(detector->GetBboxes().empty());
  EXPECT_EQ(output, "");

  // A missing cloud is reported and gives no boxes.
  detector->Forward(Scene<pcl::PointXYZ>());
  const std::string missing =
      CaptureOutput([&] { detector->Forward(pcl::PointCloud<pcl::PointXYZ>::Ptr()); });
  EXPECT_TRUE(detector->GetBboxes().empty());
  EXPECT_TRUE(Contains(missing, "[ERROR] Trelvon: Forward called without a cloud")) << missing;

  detector->Forward(Scene<pcl::PointXYZI>());
  EXPECT_FALSE(detector->GetBboxes().empty());
  EXPECT_TRUE(detector->ClearBboxes());
  EXPECT_TRUE(detector->GetBboxes().empty());
}

TEST(TrelvonTest, TimerLogsThreeStagesInOrder) {
  YAML::Node config = SmallConfig();
  config["enable_timer"] = true;
  auto detector = CreateTrelvon(config);
  ASSERT_NE(detector, nullptr);
  auto sink = std::make_shared<LocationSink>();
  auto& sinks = corvanta::Logger::Instance().logger_->sinks();
  sinks.push_back(sink);
  const std::string output = CaptureOutput([&] { detector->Forward(Scene<pcl::PointXYZ>()); });
  sinks.pop_back();
  ASSERT_EQ(sink->records.size(), 3u);
  for (const std::string& record : sink->records) {
    EXPECT_EQ(record.rfind("src/trelvon/trelvon.cpp ForwardWithTimer ", 0), 0u) << record;
  }
  const std::regex line(R"(\[INFO\] (trelvon_\w+) cost time is \d+\.\d{6} ms\.)");
  std::vector<std::string> stages;
  for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it) {
    stages.push_back((*it)[1]);
  }
  EXPECT_EQ(stages, (std::vector<std::string>{"trelvon_preprocess", "trelvon_backbone",
                                              "trelvon_postprocess"}))
      << output;
  EXPECT_FALSE(detector->GetBboxes().empty());

  const std::string empty =
      CaptureOutput([&] { detector->Forward(std::make_shared<pcl::PointCloud<pcl::PointXYZ>>()); });
  EXPECT_EQ(Count(empty, "cost time is"), 0) << empty;
}

TEST(TrelvonTest, FailedInferenceStopsThePass) {
  YAML::Node config =
      trelvon_test::SmallConfig(kModelDir + "/small_pillars_failing.pt");  // fails below -1000
  for (const bool timer : {false, true}) {
    SCOPED_TRACE(timer ? "with timer" : "without timer");
    config["enable_timer"] = timer;
    auto detector = CreateTrelvon(config);
    ASSERT_NE(detector, nullptr);
    detector->Forward(Scene<pcl::PointXYZI>());
    ASSERT_FALSE(detector->GetBboxes().empty());

    const std::string output =
        CaptureOutput([&] { detector->Forward(Scene<pcl::PointXYZI>(-5000.0f)); });
    EXPECT_TRUE(detector->GetBboxes().empty());
    EXPECT_EQ(Count(output, "[ERROR] Trelvon forward: DoInference failed"), 1) << output;
    EXPECT_EQ(Count(output, "trelvon_postprocess"), 0) << output;
  }
}

TEST(TrelvonTest, SharesTheProgramsLogger) {
  // Two logger instances would number their messages independently; one instance numbers the
  // library's message right after the program's.
  YAML::Node config = SmallConfig();
  config["use_gpu"] = true;
  const std::string output = CaptureOutput([&] {
    LOG_INFO("program message");
    CreateTrelvon(config);
  });
  const std::regex program(R"((\d+) \[INFO\] program message)");
  const std::regex library(R"((\d+) \[INFO\] use gpu to preprocess)");
  std::smatch first;
  std::smatch second;
  ASSERT_TRUE(std::regex_search(output, first, program)) << output;
  ASSERT_TRUE(std::regex_search(output, second, library)) << output;
  EXPECT_EQ((std::stoi(first[1]) + 1) % 128, std::stoi(second[1])) << output;
}

TEST(TrelvonTest, CreationFailures) {
  {
    SCOPED_TRACE("use_gpu");
    YAML::Node config = SmallConfig();
    config["use_gpu"] = true;
    std::shared_ptr<Trelvon> detector;
    const std::string output = CaptureOutput([&] { detector = CreateTrelvon(config); });
    EXPECT_EQ(detector, nullptr);
    EXPECT_TRUE(Contains(output, "[INFO] use gpu to preprocess && postprocess")) << output;
    EXPECT_TRUE(Contains(output, "[ERROR] Not support gpu preprocess yet")) << output;
    EXPECT_TRUE(Contains(output, "Failed to create trelvon preprocess.\n")) << output;
    EXPECT_FALSE(Contains(output, "Read model at")) << output;  // the backbone never starts
  }
  {
    SCOPED_TRACE("missing enable_timer");
    YAML::Node config = SmallConfig();
    config.remove("enable_timer");
    EXPECT_THROW(CreateTrelvon(config), YAML::Exception);
  }
  struct Case {
    const char* what;
    std::function<void(YAML::Node&)> change;
    std::vector<std::string> messages;
  };
  const std::vector<Case> cases = {
      {"network input larger than the pre-process buffer",
       [](YAML::Node& c) { c["preprocess"]["pillar"]["max_voxels"] = 400; },
       {"backbone.input_len['voxels'] = 320000 bytes, but the pre-process's voxel buffer holds "
        "only 256000 bytes"}},
      {"network output smaller than the decoder reads",
       [](YAML::Node& c) { c["postprocess"]["num_classes"] = 4; },
       {"backbone.output_len['cls_score'] = 18432 bytes, but the post-process reads 24576 "
        "bytes"}},
      {"network input without a length",
       [](YAML::Node& c) { c["backbone"]["input_len"].remove("coors"); },
       {"model input 'coors' has no configured buffer", "Failed to create trelvon backbone."}},
      {"model file missing",
       [](YAML::Node& c) { c["backbone"]["model_path"] = "/nonexistent/model.pt"; },
       {"model file '/nonexistent/model.pt' cannot be opened",
        "Failed to create trelvon backbone."}},
      {"post-process limits",
       [](YAML::Node& c) { c["postprocess"]["score_thresh"] = 1.0; },
       {"postprocess.score_thresh must lie strictly between 0 and 1",
        "Failed to create trelvon postprocess."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    YAML::Node config = SmallConfig();
    c.change(config);
    std::shared_ptr<Trelvon> detector;
    const std::string output = CaptureOutput([&] { detector = CreateTrelvon(config); });
    EXPECT_EQ(detector, nullptr);
    for (const std::string& message : c.messages) {
      EXPECT_TRUE(Contains(output, message)) << output;
    }
  }
}

}  // namespace
