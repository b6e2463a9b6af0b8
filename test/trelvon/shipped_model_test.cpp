// The shipped network with the shipped configuration on frames of the held-out scenes, which
// training never saw: people standing in front of the robot, clearly seen, must be found. A
// guard against a model or configuration that stopped working (untrained weights, anchors or
// grid out of step with the file, a broken export), not a measure of accuracy: detector_eval
// measures that.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"
#include "trelvon.hpp"

namespace {

namespace fs = std::filesystem;
using lidar_perception::trelvon::BBox;

constexpr int kPersonLabel = 0;

struct Tally {
  int people = 0;
  int found = 0;
  std::vector<std::string> missed;
};

std::vector<std::string> HeldOutScenes() {
  std::vector<std::string> paths;
  for (const auto& entry : fs::directory_iterator(HELDOUT_DIR)) {
    if (entry.path().extension() == ".yaml") {
      paths.push_back(entry.path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST(ShippedModel, FindsPeopleStandingInFrontOfTheRobot) {
  YAML::Node config = YAML::LoadFile(SHIPPED_CONFIG);
  config["backbone"]["model_path"] = SHIPPED_MODEL;
  const auto detector = lidar_perception::trelvon::CreateTrelvon(config);
  ASSERT_TRUE(detector) << "the shipped configuration and model do not make a detector";

  const std::vector<std::string> scenes = HeldOutScenes();
  ASSERT_GE(scenes.size(), 4u);
  Tally tally;
  for (const std::string& path : scenes) {
    lidar_sim::LidarSimulator simulator(lidar_sim::loadScenario(path));
    for (std::uint32_t k = 0; k < simulator.frameCount(); k += 10) {
      const lidar_sim::SimulatedFrame frame = simulator.simulateFrame(k);
      auto cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
      std::map<std::uint16_t, int> points_on;
      for (std::size_t i = 0; i < frame.size(); ++i) {
        const auto& p = frame.cloud->points[i];
        const Eigen::Vector3d base = frame.base_to_lidar * Eigen::Vector3d(p.x, p.y, p.z);
        cloud->points.emplace_back(static_cast<float>(base.x()), static_cast<float>(base.y()),
                                   static_cast<float>(base.z()));
        ++points_on[frame.object_ids[i]];
      }
      cloud->width = static_cast<std::uint32_t>(cloud->size());
      cloud->height = 1;
      detector->Forward(cloud);
      const std::vector<BBox> boxes = detector->GetBboxes();

      for (const auto& person : frame.boxes) {
        const double distance = std::hypot(person.x, person.y);
        const bool in_front = person.x > 0.0 && std::abs(std::atan2(person.y, person.x)) < 1.05;
        if (person.object_class != lidar_sim::ObjectClass::kPerson || person.speed > 0.0 ||
            !in_front || distance < 1.0 || distance > 6.0 || points_on[person.id] < 30) {
          continue;
        }
        ++tally.people;
        bool found = false;
        for (const BBox& box : boxes) {
          found |=
              box.label == kPersonLabel && std::hypot(box.x - person.x, box.y - person.y) < 0.3;
        }
        if (found) {
          ++tally.found;
        } else {
          tally.missed.push_back(fs::path(path).stem().string() + " frame " + std::to_string(k) +
                                 " person " + std::to_string(person.id));
        }
      }
    }
  }
  ASSERT_GE(tally.people, 10) << "too few standing people in front of the robot to judge";
  std::string missed;
  for (const auto& m : tally.missed) {
    missed += "\n  " + m;
  }
  // Two in three: the shipped network finds 40 of these 43, an untrained or mismatched one none.
  EXPECT_GE(3 * tally.found, 2 * tally.people)
      << tally.found << " of " << tally.people << " standing people found; missed:" << missed;
}

}  // namespace
