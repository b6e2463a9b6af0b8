// Time of processOneFrame on simulated scans of 20k, 100k and 300k points, with one default
// camera (or, with --360, four 90-degree cameras around the robot), debug off and post-fusion
// off. The per-stage figures are the node's own timing log lines, captured while the logger stays
// at INFO as in production; the console is left out so that printing does not dominate. The
// per-camera stages run side by side on as many threads as the node starts for them (one per
// core, at most one per camera), as the header line says.
//
// Usage: frame_pipeline_benchmark [frames per size, default 30] [--360]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <pcl/common/io.h>
#include <spdlog/sinks/base_sink.h>
#include <tf2_ros/static_transform_broadcaster.h>

#include "3d_lidar_detect_node.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"
#include "logger.hpp"
#include "stage_lanes.hpp"

#include "bench_program.hpp"

namespace {

using lidar_perception::LidarDetectNode;

// Collects "<stage> time: <x> ms." values by stage name.
class StageTimes : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::map<std::string, std::vector<double>> times;

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    static const std::regex kTiming(R"(\] (.*) time: ([0-9.eE+-]+) ?ms\.)");
    const std::string text(msg.payload.data(), msg.payload.size());
    // Most lines are not timings; the regex would cost more than some of the stages measured.
    if (text.find(" time: ") == std::string::npos) {
      return;
    }
    std::smatch m;
    if (std::regex_search(text, m, kTiming)) {
      times[m[1].str()].push_back(std::stod(m[2].str()));
    }
  }
  void flush_() override {}
};

double median(std::vector<double> v) {
  if (v.empty()) {
    return 0.0;
  }
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (bench::helpRequested(argc, argv,
                           "usage: frame_pipeline_benchmark [FRAMES] [--360]\n"
                           "  processOneFrame per-stage medians over FRAMES simulated scans "
                           "(default 30) at 20k, 100k and 300k points;\n"
                           "  --360: four 90-degree cameras covering all around\n")) {
    return 0;
  }
  bench::useBuildTreePackagePrefix(BUILD_TREE_PACKAGE_PREFIX);
  int frames = 30;
  bool all_around = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--360") {
      all_around = true;
    } else {
      frames = std::atoi(argv[i]);
    }
  }
  setenv("SPDLOG_STDOUT", "false", 1);
  std::vector<std::string> arguments{"frame_pipeline_benchmark", "--ros-args", "-p",
                                     "debug:=false"};
  if (all_around) {
    arguments.insert(arguments.end(), {"-p", "virtual_cameras_num:=4"});
    for (int n = 0; n < 4; ++n) {
      const std::string key = "vir_cam_" + std::to_string(n) + ".";
      for (const std::string& value :
           {key + "horizontal_start_pos:=" + std::to_string(90.0 * n),
            key + "horizontal_end_pos:=" + std::to_string(90.0 * n + 90.0)}) {
        arguments.insert(arguments.end(), {"-p", value});
      }
    }
  }
  std::vector<const char*> ros_argv;
  for (const std::string& argument : arguments) {
    ros_argv.push_back(argument.c_str());
  }
  rclcpp::init(static_cast<int>(ros_argv.size()), ros_argv.data());
  auto stages = std::make_shared<StageTimes>();
  corvanta::Logger::Instance().logger_->sinks().push_back(stages);

  auto helper = std::make_shared<rclcpp::Node>("benchmark_tf");
  tf2_ros::StaticTransformBroadcaster broadcaster(helper);
  geometry_msgs::msg::TransformStamped mount;
  mount.header.frame_id = "base_footprint";
  mount.child_frame_id = "3d_lidar_link";
  mount.transform.translation.z = 0.3;
  geometry_msgs::msg::TransformStamped pose;
  pose.header.frame_id = "map";
  pose.child_frame_id = "base_footprint";
  broadcaster.sendTransform({mount, pose});
  auto node = std::make_shared<LidarDetectNode>("lidar_detect_node");
  node->activate();

  lidar_sim::Scenario scenario =
      lidar_sim::loadScenario(std::string(SCENARIO_DIR) + "/office_crossing.yaml");
  // The node is told the robot stands at the map origin, so it stands still in the scene too
  // (at its first waypoint); people walk as usual.
  scenario.robot.path.waypoints.resize(1);
  scenario.robot.path.loop = false;
  std::printf("processOneFrame, %s, debug off, post-fusion off, %d frames each\n",
              all_around ? "four 90-degree cameras (360 degrees)" : "one default camera", frames);
  std::printf("per-camera stages on %zu thread(s) of %u core(s)\n",
              lidar_perception::StageLanes::helpersFor(all_around ? 4 : 1) + 1,
              std::thread::hardware_concurrency());
  std::printf("%8s %12s  per-stage medians (ms)\n", "points", "total ms");
  double previous_total = 0.0;
  size_t previous_points = 0;
  for (const int points : {20000, 100000, 300000}) {
    // Not every beam returns (range limits, dropouts): scale the beam count so that the scans
    // hold about `points` points.
    scenario.lidar = lidar_sim::lidarPreset("livox");
    scenario.lidar.points_per_frame = points;
    const double returned =
        static_cast<double>(lidar_sim::LidarSimulator(scenario).simulateFrame(0).size());
    scenario.lidar.points_per_frame =
        static_cast<int>(static_cast<double>(points) * points / std::max(returned, 1.0));
    lidar_sim::LidarSimulator simulator(scenario);
    std::vector<LidarDetectNode::PointCloudPtr> clouds;
    for (int k = 0; k < std::min(frames, 10); ++k) {
      const auto frame = simulator.simulateFrame(static_cast<uint32_t>(k));
      auto cloud = std::make_shared<LidarDetectNode::PointCloud>();
      pcl::copyPointCloud(*frame.cloud, *cloud);
      clouds.push_back(cloud);
    }
    stages->times.clear();
    std::vector<double> totals;
    for (int k = 0; k < frames; ++k) {
      const auto& cloud = clouds[static_cast<size_t>(k) % clouds.size()];
      const rclcpp::Time stamp(simulator.frameStampNs(static_cast<uint32_t>(k)), RCL_ROS_TIME);
      const auto start = std::chrono::steady_clock::now();
      node->processOneFrame(cloud, stamp);
      totals.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    const double total = median(totals);
    std::printf("%8zu %12.3f ", clouds.front()->size(), total);
    for (const auto& [stage, values] : stages->times) {
      std::printf(" %s %.3f;", stage.c_str(), median(values));
    }
    std::printf("\n");
    if (previous_points > 0) {
      std::printf(
          "         time ratio %.2f for point ratio %.2f\n", total / previous_total,
          static_cast<double>(clouds.front()->size()) / static_cast<double>(previous_points));
    }
    previous_total = total;
    previous_points = clouds.front()->size();
  }
  node.reset();
  helper.reset();
  rclcpp::shutdown();
  return 0;
}
