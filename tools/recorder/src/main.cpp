// lidar_bag_recorder: records topics into an MCAP file that Foxglove Studio and rosbag2 read.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <ament_index_cpp/get_package_share_directory.hpp>
#include <rclcpp/rclcpp.hpp>

#include "tool_cli/command_line.hpp"
#include "topic_recorder/mcap_recorder.hpp"
#include "topic_recorder/node_topics.hpp"

namespace {

void printUsage() {
  std::printf(
      "usage: lidar_bag_recorder OUTPUT.mcap [--topic NAME:TYPE ...] [--node-params FILE]\n"
      "                          [--duration S] [--ros-args ...]\n"
      "  Records until Ctrl-C (or for S seconds) into an MCAP file: cdr messages, ros2msg\n"
      "  schemas, zstd chunks and a summary index.\n"
      "  --topic NAME:TYPE   a topic to record, e.g. /tf:tf2_msgs/msg/TFMessage (repeatable)\n"
      "  --node-params FILE  record lidar_obstacle_detector's input scan, TF and outputs as\n"
      "                      this parameter file configures them (the default, with the\n"
      "                      package's config/default_params/lidar_detect_node.yaml, when no\n"
      "                      --topic is given)\n"
      "  --duration S        stop after S seconds\n"
      "Types it records: %s\n",
      fmt::format("{}", fmt::join(topic_recorder::recordableTypes(), ", ")).c_str());
}

int run(const std::vector<std::string>& args) {
  if (args.size() < 2 || args[1].rfind("-", 0) == 0) {
    throw std::invalid_argument("the first argument is the output file (see --help)");
  }
  const std::string output = args[1];
  std::vector<topic_recorder::RecordedTopic> topics;
  std::string node_params;
  double duration_s = 0.0;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&] { return tool_cli::nextValue(args, i); };
    if (arg == "--topic") {
      const std::string spec = value();
      const auto colon = spec.find(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == spec.size()) {
        throw std::invalid_argument("--topic " + spec + ": expected NAME:TYPE");
      }
      topics.push_back({spec.substr(0, colon), spec.substr(colon + 1)});
    } else if (arg == "--node-params") {
      node_params = value();
    } else if (arg == "--duration") {
      duration_s = tool_cli::parseNumber(arg, value(), 1e-3, 1e9);
    } else {
      throw std::invalid_argument("unknown option " + arg + " (see --help)");
    }
  }
  if (topics.empty() && node_params.empty()) {
    node_params = ament_index_cpp::get_package_share_directory("corvanta_3d_lidar_detect") +
                  "/config/default_params/lidar_detect_node.yaml";
  }
  if (!node_params.empty()) {
    for (auto& topic : topic_recorder::nodeTopicsFromParameters(node_params)) {
      topics.push_back(std::move(topic));
    }
  }

  auto node = std::make_shared<rclcpp::Node>("lidar_bag_recorder");
  bag_io::MsgSchemaBuilder schemas = bag_io::MsgSchemaBuilder::fromAmentPrefixPath();
  auto recorder = std::make_unique<topic_recorder::McapRecorder>(node, output, topics, schemas);
  std::printf("lidar_bag_recorder: recording %zu topics into %s; Ctrl-C stops\n", topics.size(),
              output.c_str());
  std::fflush(stdout);

  rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 2);
  executor.add_node(node);
  std::thread spinner([&executor] { executor.spin(); });
  const auto start = std::chrono::steady_clock::now();
  while (rclcpp::ok() && (duration_s <= 0.0 || std::chrono::steady_clock::now() - start <
                                                   std::chrono::duration<double>(duration_s))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  executor.cancel();
  spinner.join();
  recorder->close();
  for (const auto& [topic, count] : recorder->countsByTopic()) {
    std::printf("  %6llu  %s\n", static_cast<unsigned long long>(count), topic.c_str());
  }
  std::printf("lidar_bag_recorder: %llu messages in %s\n",
              static_cast<unsigned long long>(recorder->messagesWritten()), output.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (tool_cli::helpRequested(argc, argv)) {
    printUsage();
    return 0;
  }
  return tool_cli::runRosTool("lidar_bag_recorder", argc, argv, run);
}
