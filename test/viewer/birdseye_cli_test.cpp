// lidar_birdseye on a small simulated data set: scenes from frames agree with the simulator's
// truth, the files written have the frames asked for, and bad input gives one clear line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "birdseye/birdseye_cli.hpp"
#include "birdseye/frame_scene.hpp"
#include "lidar_sim/dataset_reader.hpp"
#include "lidar_sim/dataset_writer.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "picture_reader.hpp"

namespace birdseye {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result runCli(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = runBirdseye(args, out, err);
  return {status, out.str(), err.str()};
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Distance from (px, py) to a truth box's footprint (length along its heading), 0 inside.
double distanceToTruthBox(const lidar_sim::ObjectBox& box, double px, double py) {
  const double c = std::cos(box.yaw);
  const double s = std::sin(box.yaw);
  const double along = c * (px - box.x) + s * (py - box.y);
  const double across = -s * (px - box.x) + c * (py - box.y);
  const double da = std::max(0.0, std::abs(along) - box.length / 2.0);
  const double dc = std::max(0.0, std::abs(across) - box.width / 2.0);
  return std::hypot(da, dc);
}

class BirdseyeCliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // One folder per process: ctest may run the cases of this suite side by side.
    root_ = fs::temp_directory_path() / ("birdseye_cli_test_" + std::to_string(getpid()));
    fs::remove_all(root_);
    const lidar_sim::Scenario scenario =
        lidar_sim::loadScenario(std::string(SCENARIO_DIR) + "/office_crossing.yaml");
    lidar_sim::LidarSimulator simulator(scenario);
    lidar_sim::DatasetWriter writer((root_ / "office").string(), scenario);
    for (std::uint32_t k = 0; k < 4; ++k) {
      writer.write(simulator.simulateFrame(k));
    }
    writer.finish();
    lidar_sim::DatasetWriter empty((root_ / "empty").string(), scenario);
    empty.finish();
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  static fs::path root_;
};

fs::path BirdseyeCliTest::root_;

TEST_F(BirdseyeCliTest, SceneOfAFrameAgreesWithTheSimulatorsTruth) {
  const lidar_sim::DatasetReader reader((root_ / "office").string());
  const lidar_sim::SimulatedFrame frame = reader.readFrame(2);
  FrameView view;
  view.max_z = 100.0;  // keep every point
  const Scene scene = sceneFromFrame(frame, view, "office");

  ASSERT_EQ(scene.classes.size(), 3u);
  EXPECT_EQ(scene.classes[2].name, "dynamic");
  std::size_t truth[3] = {0, 0, 0};
  for (const lidar_sim::PointLabel label : frame.labels) {
    ++truth[static_cast<int>(label)];
  }
  std::size_t seen[3] = {0, 0, 0};
  int last_class = 0;
  for (const ScenePoint& p : scene.points) {
    ++seen[p.class_index];
    EXPECT_GE(p.class_index, last_class) << "ground first, dynamic on top";
    last_class = p.class_index;
  }
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(seen[k], truth[k]) << "class " << k;
  }
  ASSERT_GT(seen[2], 20u) << "the frame should see people";

  // Dynamic points lie on the people: in the base frame at the stamp each is within 0.25 m of
  // an agent's truth box (agents move up to 0.15 m within a frame).
  std::size_t far = 0;
  for (const ScenePoint& p : scene.points) {
    if (p.class_index != 2) {
      continue;
    }
    double nearest = 1e9;
    for (const lidar_sim::ObjectBox& box : frame.boxes) {
      if (box.object_class == lidar_sim::ObjectClass::kPerson) {
        nearest = std::min(nearest, distanceToTruthBox(box, p.x, p.y));
      }
    }
    far += nearest > 0.25 ? 1 : 0;
  }
  EXPECT_EQ(far, 0u);

  // Boxes go over in the node's reading: the truth length (along the heading) becomes the width.
  std::size_t people = 0;
  for (const lidar_sim::ObjectBox& box : frame.boxes) {
    if (box.object_class != lidar_sim::ObjectClass::kPerson) {
      continue;
    }
    ASSERT_LT(people, scene.boxes.size());
    const SceneBox& drawn = scene.boxes[people++];
    EXPECT_DOUBLE_EQ(drawn.width, box.length);
    EXPECT_DOUBLE_EQ(drawn.length, box.width);
    EXPECT_DOUBLE_EQ(drawn.yaw, box.yaw);
  }
  EXPECT_EQ(people, scene.boxes.size());

  // A low height limit drops the ceiling and the tops of walls, not the ground.
  view.max_z = 1.0;
  const Scene low = sceneFromFrame(frame, view, "office");
  EXPECT_LT(low.points.size(), scene.points.size());
  EXPECT_TRUE(contains(low.caption.at(0), "frame 2"));
}

TEST_F(BirdseyeCliTest, WritesPngsOfChosenFramesAndAGifOfARange) {
  const fs::path out_dir = root_ / "pictures";
  const std::string gif = (root_ / "strip.gif").string();
  const Result r = runCli({(root_ / "office").string(), "--frames", "1,3", "--out-dir",
                           out_dir.string(), "--gif", gif, "--from", "0", "--to", "3", "--step",
                           "2", "--size", "200x150", "--mpp", "0.05"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"frame_000001.png", "frame_000003.png"}) {
    const CairoSurface image = test::readPng((out_dir / name).string());
    EXPECT_EQ(cairo_image_surface_get_width(image.get()), 200) << name;
    EXPECT_EQ(cairo_image_surface_get_height(image.get()), 150) << name;
  }
  EXPECT_FALSE(fs::exists(out_dir / "frame_000000.png"));
  const test::GifContents contents = test::readGif(gif);
  EXPECT_EQ(contents.frames, 2);  // frames 0 and 2
  EXPECT_EQ(contents.width, 200);
  EXPECT_EQ(contents.height, 150);
  EXPECT_EQ(contents.delays_cs.at(0), 20);  // two 0.1 s frame periods: real time
  EXPECT_TRUE(contains(r.out, gif));
}

TEST_F(BirdseyeCliTest, BadInputGivesOneClearLine) {
  const std::string office = (root_ / "office").string();
  {
    const Result r = runCli({(root_ / "empty").string(), "--frames", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "has no frames")) << r.err;
  }
  {
    const std::string gif = (root_ / "missing_folder" / "strip.gif").string();
    const Result r = runCli({office, "--gif", gif});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, gif)) << r.err;
  }
  {
    const Result r = runCli({office, "--frames", "1,9"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "frame 9")) << r.err;
    EXPECT_TRUE(contains(r.err, "0..3")) << r.err;
  }
  {
    const Result r = runCli({(root_ / "no_such_data_set").string(), "--frames", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "no_such_data_set")) << r.err;
  }
  struct Usage {
    std::vector<std::string> args;
    std::string says;
  };
  for (const Usage& u :
       {Usage{{office}, "nothing to draw"}, Usage{{office, "--frames", "x"}, "'x'"},
        Usage{{office, "--frames", ""}, "--frames"},
        Usage{{office, "--frames", "0", "--mpp", "-1"}, "--mpp"},
        Usage{{office, "--frames", "0", "--camera", "0-90"}, "--camera"},
        Usage{{office, "--frames", "0", "--from", "1"}, "need --gif"},
        Usage{{office, "--gif", "x.gif", "--from", "3", "--to", "1"}, "before"},
        Usage{{office, "--frames", "0", "--colour", "pink"}, "'pink'"},
        Usage{{office, "--bogus"}, "'--bogus'"}, Usage{{"--frames", "0"}, "no data set"}}) {
    const Result r = runCli(u.args);
    EXPECT_EQ(r.status, 2) << u.says;
    EXPECT_TRUE(contains(r.err, u.says)) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  const Result help = runCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(contains(help.out, "usage: lidar_birdseye"));
}

}  // namespace
}  // namespace birdseye
