// Data set directories: frames come back exactly as written, and damaged files are reported
// with their name and what is wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "lidar_sim/dataset_reader.hpp"
#include "lidar_sim/dataset_writer.hpp"
#include "lidar_sim/lidar_simulator.hpp"

namespace lidar_sim {
namespace {

namespace fs = std::filesystem;

class DatasetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() /
                 ("lidar_sim_dataset_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(directory_);
    scenario_ = parseScenario(YAML::Load(R"(
name: round_trip
lidar: {preset: livox, points_per_frame: 5000, mount: {xyz: [0.2, 0, 0.3], rpy_deg: [0, 10, 0]}}
walls: [{rectangle: [-4, -4, 4, 4]}]
people: [{path: [[-3, 2], [3, 2]], loop: true}]
robot: {path: [[0, 0], [1, 1]], speed: 0.5}
frame_ids: {base: base_link}
)"),
                              "test");
    LidarSimulator simulator(scenario_);
    DatasetWriter writer(directory_.string(), scenario_, "name: round_trip\n");
    for (std::uint32_t k = 0; k < 3; ++k) {
      frames_.push_back(simulator.simulateFrame(k));
      writer.write(frames_.back());
    }
    writer.finish();
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string errorReading(std::uint32_t index) const {
    try {
      DatasetReader(directory_.string()).readFrame(index);
    } catch (const DatasetError& error) {
      return error.what();
    }
    return "no error";
  }

  fs::path directory_;
  Scenario scenario_;
  std::vector<SimulatedFrame> frames_;
};

TEST_F(DatasetTest, FramesComeBackAsWritten) {
  const DatasetReader reader(directory_.string());
  EXPECT_EQ(reader.frameCount(), 3U);
  EXPECT_EQ(reader.scenarioName(), "round_trip");
  EXPECT_EQ(reader.frameIds().base, "base_link");
  EXPECT_EQ(reader.framePeriodNs(), 100'000'000);
  EXPECT_TRUE(reader.mount().isApprox(scenario_.lidar.mount, 1e-12));
  EXPECT_TRUE(fs::exists(directory_ / "scenario.yaml"));
  for (std::uint32_t k = 0; k < 3; ++k) {
    const SimulatedFrame& written = frames_[k];
    const SimulatedFrame read = reader.readFrame(k);
    EXPECT_EQ(read.index, k);
    EXPECT_EQ(read.stamp_ns, written.stamp_ns);
    EXPECT_EQ(read.duration_ns, written.duration_ns);
    ASSERT_EQ(read.size(), written.size());
    EXPECT_GT(read.size(), 3000U);
    EXPECT_EQ(read.offset_time_ns, written.offset_time_ns);
    EXPECT_EQ(read.labels, written.labels);
    EXPECT_EQ(read.object_ids, written.object_ids);
    EXPECT_EQ(read.line, written.line);
    for (std::size_t i = 0; i < read.size(); ++i) {
      ASSERT_EQ(read.cloud->points[i].x, written.cloud->points[i].x);
      ASSERT_EQ(read.cloud->points[i].z, written.cloud->points[i].z);
      ASSERT_EQ(read.cloud->points[i].intensity, written.cloud->points[i].intensity);
    }
    EXPECT_TRUE(read.map_to_base.isApprox(written.map_to_base, 1e-12));
    EXPECT_TRUE(read.map_to_base_end.isApprox(written.map_to_base_end, 1e-12));
    ASSERT_EQ(read.boxes.size(), written.boxes.size());
    for (std::size_t b = 0; b < read.boxes.size(); ++b) {
      EXPECT_EQ(read.boxes[b].id, written.boxes[b].id);
      EXPECT_EQ(read.boxes[b].object_class, written.boxes[b].object_class);
      EXPECT_DOUBLE_EQ(read.boxes[b].x, written.boxes[b].x);
      EXPECT_DOUBLE_EQ(read.boxes[b].yaw, written.boxes[b].yaw);
      EXPECT_DOUBLE_EQ(read.boxes[b].speed, written.boxes[b].speed);
    }
  }
}

TEST_F(DatasetTest, ARerunIntoTheSameDirectoryLeavesNoFramesOfTheEarlierRun) {
  const fs::path frames = directory_ / "frames";
  std::ofstream(frames / "notes.txt") << "kept";
  std::ofstream(frames / "000042.bin.orig") << "kept";
  {
    LidarSimulator simulator(scenario_);
    DatasetWriter writer(directory_.string(), scenario_);
    EXPECT_EQ(writer.staleFilesRemoved(), 6U);  // three frames of two files each
    writer.write(simulator.simulateFrame(0));
    writer.finish();
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(frames)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"000000.bin", "000000.yaml", "000042.bin.orig",
                                             "notes.txt"}));
  EXPECT_EQ(DatasetReader(directory_.string()).frameCount(), 1U);
}

TEST_F(DatasetTest, DamagedFilesAreNamed) {
  {
    fs::resize_file(directory_ / "frames/000001.bin", 24 * 10 + 5);
    const std::string message = errorReading(1);
    EXPECT_NE(message.find("000001.bin: 245 bytes"), std::string::npos) << message;
  }
  {
    std::ofstream(directory_ / "frames/000002.yaml") << "index: 2\nstamp_ns: 5\n";
    const std::string message = errorReading(2);
    EXPECT_NE(message.find("000002.yaml: missing key 'duration_ns'"), std::string::npos) << message;
  }
  {
    std::ofstream(directory_ / "frames/000000.yaml") << "index: 0\nstamp_ns: [1, 2\n";
    const std::string message = errorReading(0);
    EXPECT_NE(message.find("000000.yaml:3: not valid YAML"), std::string::npos) << message;
  }
  {
    const std::string message = errorReading(3);
    EXPECT_NE(message.find("frame 3 requested but the data set holds 3"), std::string::npos)
        << message;
  }
  {
    std::ofstream(directory_ / "dataset.yaml") << "format: lidar_scene_simulator\nversion: 7\n";
    const std::string message = errorReading(0);
    EXPECT_NE(message.find("dataset.yaml: version 7 is not supported"), std::string::npos)
        << message;
  }
  EXPECT_THROW(DatasetReader((directory_ / "nowhere").string()), DatasetError);
}

}  // namespace
}  // namespace lidar_sim
