// lidar_scan_player: publishes simulated, recorded or real scans with their TF onto the ROS graph.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <rclcpp/rclcpp.hpp>

#include "scan_player/scan_player.hpp"
#include "scan_player/source_options.hpp"
#include "tool_cli/command_line.hpp"

namespace {

void printUsage() {
  std::printf(
      "usage: lidar_scan_player [SOURCE] [options] [--ros-args ...]\n"
      "  Publishes scans as a robot does: the lidar mount on /tf_static, then per scan the\n"
      "  robot's map pose on /tf and the scan on the lidar topic, paced by the scans' stamps.\n"
      "Source (one of):\n%s"
      "Playing:\n"
      "  --topic TOPIC          lidar topic (default /cloud_registered_body)\n"
      "  --topic-type N         0: sensor_msgs/PointCloud2 (default), otherwise the Livox\n"
      "                         CustomMsg, as the node's parameter topic_type\n"
      "  --rate R               1 real time (default), 2 twice as fast, 0 as fast as possible\n"
      "  --step                 wait for Enter before each scan\n"
      "  --wait-for-subscriber S  wait up to S seconds for a subscriber first (default 0)\n"
      "  --no-mount             leave /tf_static to another publisher (a robot's description\n"
      "                         or static_transform_publisher)\n",
      scan_player::sourceOptionsHelp());
}

int run(const std::vector<std::string>& ros_free_args) {
  std::vector<std::string> args = ros_free_args;
  scan_player::SourceOptions source_options = scan_player::takeSourceOptions(args);
  scan_player::PlayerOptions options;
  double wait_for_subscriber_s = 0.0;
  bool send_mount = true;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&] { return tool_cli::nextValue(args, i); };
    if (arg == "--topic") {
      options.scan_topic = value();
    } else if (arg == "--topic-type") {
      const std::string text = value();
      if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("--topic-type " + text + ": expected 0 or 1");
      }
      options.topic_type = std::stoi(text);
    } else if (arg == "--rate") {
      options.rate = tool_cli::parseNumber(arg, value(), 0.0, 1000.0);
    } else if (arg == "--no-mount") {
      send_mount = false;
    } else if (arg == "--step") {
      options.step = true;
    } else if (arg == "--wait-for-subscriber") {
      wait_for_subscriber_s = tool_cli::parseNumber(arg, value(), 0.0, 1000.0);
    } else {
      throw std::invalid_argument("unknown option " + arg + " (see --help)");
    }
  }

  auto source = scan_player::openSource(source_options);
  auto node = std::make_shared<rclcpp::Node>("lidar_scan_player");
  scan_player::ScanPlayer player(node, options);
  if (send_mount) {
    player.sendStaticTransforms(*source);
  }
  std::printf(
      "lidar_scan_player: %s -> %s (%s)\n", source->describe().c_str(), options.scan_topic.c_str(),
      options.topic_type == 0 ? "sensor_msgs/msg/PointCloud2" : "livox_ros_driver2/msg/CustomMsg");
  const auto wait_until = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(wait_for_subscriber_s));
  while (rclcpp::ok() && player.scanSubscriptionCount() == 0 &&
         std::chrono::steady_clock::now() < wait_until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  const auto total = source->frameCount();
  auto last_report = std::chrono::steady_clock::now();
  scan_player::ScanFrame frame;
  while ((source_options.frames == 0 || player.scansPublished() < source_options.frames) &&
         player.playNext(*source, frame)) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_report >= std::chrono::seconds(1)) {
      last_report = now;
      std::printf("lidar_scan_player: %llu%s scans published, stamp %.3f s\n",
                  static_cast<unsigned long long>(player.scansPublished()),
                  total ? fmt::format("/{}", *total).c_str() : "",
                  static_cast<double>(frame.stamp_ns) * 1e-9);
      std::fflush(stdout);
    }
  }
  std::printf("lidar_scan_player: published %llu scans\n",
              static_cast<unsigned long long>(player.scansPublished()));
  std::fflush(stdout);
  // Give subscribers in other processes a moment for the last scan before leaving the graph.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (tool_cli::helpRequested(argc, argv)) {
    printUsage();
    return 0;
  }
  return tool_cli::runRosTool("lidar_scan_player", argc, argv, run);
}
