// lidar_obstacle_demo: the main job. Plays a scene (simulated, recorded or real) into
// lidar_obstacle_detector, records every output into an MCAP file, shows progress, and ends with a
// summary (throughput, stage timings, accuracy against the simulator's truth) and pictures.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <tf2_ros/static_transform_broadcaster.h>
#include <ament_index_cpp/get_package_share_directory.hpp>
#include <lifecycle_msgs/msg/state.hpp>
#include <rclcpp/rclcpp.hpp>

#include "3d_lidar_detect_node.hpp"
#include "bag_io/msg_schema_builder.hpp"
#include "lidar_demo/output_monitor.hpp"
#include "lidar_demo/run_pictures.hpp"
#include "lidar_demo/run_summary.hpp"
#include "lidar_demo/stage_timings.hpp"
#include "logger.hpp"
#include "scan_player/scan_player.hpp"
#include "scan_player/source_options.hpp"
#include "tool_cli/command_line.hpp"
#include "topic_recorder/mcap_recorder.hpp"

namespace {

namespace fs = std::filesystem;
using lidar_demo::FrameRecord;

constexpr const char* kProgram = "lidar_obstacle_demo";

struct DemoOptions {
  scan_player::SourceOptions source;
  std::string out_dir{"lidar_demo_output"};
  // Laid over the package's shipped parameter file, in order.
  std::vector<std::string> params_overlays;
  bool livox{false};
  int post_fusion{-1};  // -1: as the parameter file says
  double rate{1.0};
  std::size_t pictures{3};
  bool gif{true};
  bool colour_clusters{false};
  std::vector<std::string> ros_args;
};

void printUsage() {
  std::printf(
      "usage: %s [SOURCE] [options] [--ros-args -p KEY:=VALUE ...]\n"
      "  Plays scans into lidar_obstacle_detector (configured by its parameter file), records\n"
      "  the scan, TF and every output into OUT/run.mcap, prints progress once a second and a\n"
      "  summary at the end, and draws bird's-eye pictures of the node's output.\n"
      "Source (one of; default: the simulated office_crossing scenario):\n%s"
      "Run:\n"
      "  --out DIR              output folder (default lidar_demo_output)\n"
      "  --params FILE          parameters laid over the package's shipped\n"
      "                         config/default_params/lidar_detect_node.yaml (repeatable;\n"
      "                         --real-scan adds config/examples/vlp16_sweep.yaml)\n"
      "  --livox                feed the Livox CustomMsg (topic_type 1; simulated scenes use\n"
      "                         the Livox-style sensor)\n"
      "  --post-fusion on|off   run the 3-D box detector (default: as the parameter file)\n"
      "  --rate R               1 real time (default), 2 twice as fast; scans the node has not\n"
      "                         taken yet when the next arrives are dropped, as on a robot\n"
      "  --pictures N           PNG pictures of N scans spread over the run (default 3)\n"
      "  --no-gif               no animated GIF of the run\n"
      "  --colour split|clusters  pictures: static blue and dynamic red (default), or one\n"
      "                         colour per cluster\n"
      "Everything after --ros-args goes to the node (e.g. -p debug:=false).\n",
      kProgram, scan_player::sourceOptionsHelp());
}

DemoOptions parseOptions(std::vector<std::string> args) {
  DemoOptions options;
  const auto ros = std::find(args.begin(), args.end(), "--ros-args");
  if (ros != args.end()) {
    options.ros_args.assign(ros + 1, args.end());
    args.erase(ros, args.end());
  }
  options.source = scan_player::takeSourceOptions(args);
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&] { return tool_cli::nextValue(args, i); };
    if (arg == "--out") {
      options.out_dir = value();
    } else if (arg == "--params") {
      options.params_overlays.push_back(value());
    } else if (arg == "--livox") {
      options.livox = true;
    } else if (arg == "--post-fusion") {
      const std::string text = value();
      if (text != "on" && text != "off") {
        throw std::invalid_argument("--post-fusion " + text + ": expected on or off");
      }
      options.post_fusion = text == "on" ? 1 : 0;
    } else if (arg == "--rate") {
      options.rate = tool_cli::parseNumber(arg, value(), 1e-3, 100.0);
    } else if (arg == "--pictures") {
      const std::string text = value();
      if (text.empty() || text.size() > 3 ||
          text.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("--pictures " + text + ": expected 0 to 999");
      }
      options.pictures = std::stoul(text);
    } else if (arg == "--no-gif") {
      options.gif = false;
    } else if (arg == "--colour") {
      const std::string text = value();
      if (text != "split" && text != "clusters") {
        throw std::invalid_argument("--colour " + text + ": expected split or clusters");
      }
      options.colour_clusters = text == "clusters";
    } else {
      throw std::invalid_argument("unknown option " + arg + " (see --help)");
    }
  }
  if (options.livox && options.source.lidar_preset.empty() &&
      (options.source.kind == scan_player::SourceOptions::Kind::kScenario)) {
    options.source.lidar_preset = "livox";
  }
  return options;
}

// The node logs to OUT/node.log, its errors also to the terminal; its timing lines feed `timings`.
void routeNodeLog(const std::string& log_path, lidar_demo::StageTimings& timings) {
  auto logger = corvanta::Logger::Instance().logger_;
  if (logger == nullptr) {
    return;
  }
  auto file = std::make_shared<spdlog::sinks::basic_file_sink_mt>(log_path, true);
  file->set_pattern("[%H:%M:%S.%e] %v");
  auto errors = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
  errors->set_level(spdlog::level::err);
  errors->set_pattern("lidar_obstacle_detector: %v");
  logger->sinks().push_back(file);
  logger->sinks().push_back(errors);
  logger->sinks().push_back(std::make_shared<lidar_demo::StageTimingSink>(timings));
  logger->flush_on(spdlog::level::err);
}

template <typename T>
T parameterOr(const rclcpp_lifecycle::LifecycleNode& node, const std::string& key, T fallback) {
  T value = fallback;
  if (node.has_parameter(key)) {
    node.get_parameter(key, value);
  }
  return value;
}

lidar_demo::PictureView pictureView(const rclcpp_lifecycle::LifecycleNode& node,
                                    const Eigen::Isometry3f& base_to_lidar, bool colour_clusters) {
  lidar_demo::PictureView view;
  view.colour_clusters = colour_clusters;
  view.region.x_half = parameterOr(node, "x_large", 5.0);
  view.region.y_half = parameterOr(node, "y_large", 5.0);
  view.footprint.x_front = parameterOr(node, "x_small_front", 0.41);
  view.footprint.x_back = parameterOr(node, "x_small_back", -0.315);
  view.footprint.y_half = parameterOr(node, "y_small", 0.255);
  const int cameras = static_cast<int>(parameterOr<std::int64_t>(node, "virtual_cameras_num", 1));
  for (int i = 0; i < cameras; ++i) {
    birdseye::Frustum frustum;
    frustum.apex_x = base_to_lidar.translation().x();
    frustum.apex_y = base_to_lidar.translation().y();
    // Camera angles are counted in the lidar's frame: turn them with the mount, and mirror them
    // for a sensor mounted upside down.
    const double start = parameterOr(node, fmt::format("vir_cam_{}.horizontal_start_pos", i), 0.0);
    const double end = parameterOr(node, fmt::format("vir_cam_{}.horizontal_end_pos", i), 90.0);
    auto in_base = [&](double lidar_deg) {
      const double a = lidar_deg * M_PI / 180.0;
      const Eigen::Vector3f ray =
          base_to_lidar.linear() * Eigen::Vector3f(std::cos(a), std::sin(a), 0.0F);
      return std::atan2(ray.y(), ray.x()) * 180.0 / M_PI;
    };
    const bool flipped = base_to_lidar.linear()(2, 2) < 0.0F;
    frustum.start_deg = in_base(flipped ? end : start);
    frustum.end_deg = frustum.start_deg + (end - start);
    frustum.range = std::hypot(view.region.x_half, view.region.y_half);
    if (frustum.end_deg > frustum.start_deg && frustum.end_deg - frustum.start_deg <= 360.0) {
      view.frusta.push_back(frustum);
    }
  }
  return view;
}

// A short name of the source for picture captions.
std::string sourceTitle(const scan_player::SourceOptions& source) {
  using Kind = scan_player::SourceOptions::Kind;
  const fs::path path(source.path);
  switch (source.kind) {
    case Kind::kScenario:
      return path.stem().string();
    case Kind::kRealScan:
      return "real VLP-16 sweep";
    default:
      return path.filename().empty() ? path.parent_path().filename().string()
                                     : path.filename().string();
  }
}

Eigen::Isometry3f mountOf(const std::vector<geometry_msgs::msg::TransformStamped>& statics,
                          const std::string& base_frame) {
  for (const auto& t : statics) {
    if (t.header.frame_id == base_frame) {
      const auto& r = t.transform.rotation;
      const auto& p = t.transform.translation;
      Eigen::Isometry3d mount = Eigen::Isometry3d::Identity();
      mount.linear() = Eigen::Quaterniond(r.w, r.x, r.y, r.z).normalized().toRotationMatrix();
      mount.translation() = Eigen::Vector3d(p.x, p.y, p.z);
      return mount.cast<float>();
    }
  }
  return Eigen::Isometry3f::Identity();
}

int runDemo(const DemoOptions& options, int argc, char** argv) {
  fs::create_directories(options.out_dir);
  const std::string picture_dir = options.out_dir + "/pictures";
  // Pictures of an earlier run must not pass for this one's.
  fs::remove_all(picture_dir);
  fs::create_directories(picture_dir);
  const std::string mcap_path = options.out_dir + "/run.mcap";
  const std::string gif_path = options.gif ? options.out_dir + "/run.gif" : "";
  const std::string log_path = options.out_dir + "/node.log";
  const std::string summary_path = options.out_dir + "/summary.yaml";

  const std::string share =
      ament_index_cpp::get_package_share_directory("corvanta_3d_lidar_detect") + "/config";
  std::vector<std::string> params_files{share + "/default_params/lidar_detect_node.yaml"};
  if (options.source.kind == scan_player::SourceOptions::Kind::kRealScan &&
      options.params_overlays.empty()) {
    params_files.push_back(share + "/examples/vlp16_sweep.yaml");
  }
  params_files.insert(params_files.end(), options.params_overlays.begin(),
                      options.params_overlays.end());
  for (const auto& file : params_files) {
    if (!fs::is_regular_file(file)) {
      throw std::invalid_argument("no parameter file " + file);
    }
  }

  // The node reads its parameters from the process's ROS arguments, as when it runs alone; later
  // files override earlier ones.
  std::vector<std::string> ros_argv{argc > 0 ? argv[0] : kProgram, "--ros-args"};
  for (const auto& file : params_files) {
    ros_argv.push_back("--params-file");
    ros_argv.push_back(file);
  }
  ros_argv.push_back("-p");
  ros_argv.push_back(fmt::format("topic_type:={}", options.livox ? 1 : 0));
  if (options.post_fusion >= 0) {
    ros_argv.push_back("-p");
    ros_argv.push_back(
        fmt::format("post_fusion.enable:={}", options.post_fusion ? "true" : "false"));
  }
  ros_argv.insert(ros_argv.end(), options.ros_args.begin(), options.ros_args.end());
  std::vector<char*> c_argv;
  for (auto& arg : ros_argv) {
    c_argv.push_back(arg.data());
  }

  lidar_demo::StageTimings timings;
  routeNodeLog(log_path, timings);
  rclcpp::init(static_cast<int>(c_argv.size()), c_argv.data());

  auto source = scan_player::openSource(options.source);
  std::printf("%s: %s\n", kProgram, source->describe().c_str());
  std::printf("%s: node parameters %s; node log %s\n", kProgram,
              fmt::format("{}", fmt::join(params_files, " + ")).c_str(), log_path.c_str());
  std::fflush(stdout);

  // The mount goes out before the node starts: its configuration waits for it.
  auto player_node = std::make_shared<rclcpp::Node>("lidar_scan_player");
  const auto statics = source->staticTransforms();
  tf2_ros::StaticTransformBroadcaster mount_broadcaster(player_node);
  mount_broadcaster.sendTransform(statics);

  auto node = std::make_shared<lidar_perception::LidarDetectNode>("lidar_detect_node");
  if (!rclcpp::ok()) {
    return 0;  // Ctrl-C during configuration
  }
  if (node->get_current_state().id() != lifecycle_msgs::msg::State::PRIMARY_STATE_INACTIVE) {
    std::fprintf(stderr, "%s: the node's configuration failed (errors above; all of it in %s)\n",
                 kProgram, log_path.c_str());
    return 1;
  }
  node->activate();

  scan_player::PlayerOptions player_options;
  player_options.scan_topic =
      parameterOr<std::string>(*node, "lidar_topic", "/cloud_registered_body");
  player_options.topic_type = options.livox ? 1 : 0;
  player_options.rate = options.rate;
  scan_player::ScanPlayer player(player_node, player_options);

  const std::string base_frame = parameterOr<std::string>(*node, "base_frame_id", "base_footprint");
  const Eigen::Isometry3f base_to_lidar = mountOf(statics, base_frame);

  std::vector<lidar_demo::SemanticTopic> semantic;
  std::string markers_topic;
  std::vector<topic_recorder::RecordedTopic> recorded{
      {player_options.scan_topic,
       options.livox ? "livox_ros_driver2/msg/CustomMsg" : "sensor_msgs/msg/PointCloud2"},
      {"/tf", "tf2_msgs/msg/TFMessage"},
      {"/tf_static", "tf2_msgs/msg/TFMessage"}};
  for (const auto& topic : node->publishedTopics()) {
    using Side = lidar_demo::SemanticTopic::Side;
    if (topic.parameter == "lidar_semantic_dynamic_obstacles_topic") {
      semantic.push_back({topic.name, Side::kDynamic});
    } else if (topic.parameter == "lidar_semantic_static_obstacles_topic") {
      semantic.push_back({topic.name, Side::kStatic});
    } else if (topic.parameter == "lidar_semantic_obstacles_topic") {
      semantic.push_back({topic.name, Side::kUnsplit});
    } else if (topic.type == "visualization_msgs/msg/MarkerArray") {
      markers_topic = topic.name;
    }
    const bool known = std::any_of(recorded.begin(), recorded.end(),
                                   [&](const auto& r) { return r.name == topic.name; });
    if (!known) {
      recorded.push_back({topic.name, topic.type});
    }
  }

  auto monitor_node = std::make_shared<rclcpp::Node>("lidar_demo_monitor");
  lidar_demo::OutputMonitor monitor(monitor_node, semantic, markers_topic, base_to_lidar);
  auto recorder_node = std::make_shared<rclcpp::Node>("lidar_bag_recorder");
  bag_io::MsgSchemaBuilder schemas = bag_io::MsgSchemaBuilder::fromAmentPrefixPath();
  auto recorder =
      std::make_unique<topic_recorder::McapRecorder>(recorder_node, mcap_path, recorded, schemas);

  // The node runs on its own three threads as in lidar_obstacle_detector; the watchers on two.
  rclcpp::executors::MultiThreadedExecutor node_executor(rclcpp::ExecutorOptions(), 3);
  node_executor.add_node(node->get_node_base_interface());
  rclcpp::executors::MultiThreadedExecutor tool_executor(rclcpp::ExecutorOptions(), 2);
  tool_executor.add_node(monitor_node);
  tool_executor.add_node(recorder_node);
  std::thread node_thread([&] { node_executor.spin(); });
  std::thread tool_thread([&] { tool_executor.spin(); });

  const auto total = source->frameCount();
  const std::size_t limit = options.source.frames;
  const auto start = std::chrono::steady_clock::now();
  auto last_report = start;
  auto report = [&](const char* prefix) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::size_t played = monitor.playedCount();
    const std::size_t processed = monitor.processedCount();
    std::printf("%s[%6.1f s] scans played %zu%s, processed %zu, not (yet) processed %zu\n", prefix,
                elapsed, played, total ? fmt::format("/{}", *total).c_str() : "", processed,
                played - processed);
    std::fflush(stdout);
  };
  scan_player::ScanFrame frame;
  std::size_t skipped = 0;
  while (rclcpp::ok() && (limit == 0 || monitor.playedCount() < limit) && source->next(frame)) {
    try {
      player.prepare(frame);
    } catch (const std::exception& error) {
      ++skipped;
      std::fprintf(stderr, "%s: skipping a scan stamped %.9f: %s\n", kProgram,
                   static_cast<double>(frame.stamp_ns) * 1e-9, error.what());
      continue;
    }
    if (!player.waitUntilDue(frame.stamp_ns)) {
      break;
    }
    monitor.played(frame, player.outputStampNs(frame));
    player.publish(frame);
    if (std::chrono::steady_clock::now() - last_report >= std::chrono::seconds(1)) {
      last_report = std::chrono::steady_clock::now();
      report("");
    }
  }
  // The last scans are still in the pipeline: wait until each has its message on every semantic
  // topic, or outputs stop coming (at most 5 s). A scan's dynamic and static messages arrive
  // separately, so one message is not the end of it.
  const auto drain_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::size_t seen = monitor.completeCount();
  auto last_change = std::chrono::steady_clock::now();
  while (rclcpp::ok() && seen < monitor.playedCount() &&
         std::chrono::steady_clock::now() < drain_deadline &&
         std::chrono::steady_clock::now() - last_change < std::chrono::milliseconds(1500)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (monitor.completeCount() != seen) {
      seen = monitor.completeCount();
      last_change = std::chrono::steady_clock::now();
    }
  }
  // The recorder reads the same topics through subscriptions of its own, which the executor may
  // serve a moment later than the monitor's: the recording is closed once it holds every output
  // the monitor saw (at most 2 s more).
  const auto record_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  auto recorder_behind = [&] {
    const auto written = recorder->countsByTopic();
    for (const auto& [topic, received] : monitor.receivedByTopic()) {
      const auto it = written.find(topic);
      if (it == written.end() || it->second < received) {
        return true;
      }
    }
    return false;
  };
  while (rclcpp::ok() && std::chrono::steady_clock::now() < record_deadline && recorder_behind()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  report("done ");
  const double wall_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  node_executor.cancel();
  tool_executor.cancel();
  node_thread.join();
  tool_thread.join();
  recorder->close();

  const std::vector<FrameRecord> records = monitor.records();
  lidar_demo::RunSummary summary = lidar_demo::summarize(records, timings.statistics());
  summary.source = source->describe();
  summary.wall_s = wall_s;
  summary.skipped_scans = skipped;
  summary.unknown_stamps = monitor.unknownStamps();
  summary.detection_arrays = monitor.detectionArrays();
  summary.detected_boxes = monitor.detectedBoxes();
  summary.post_fusion = !markers_topic.empty() || parameterOr(*node, "post_fusion.enable", false);
  summary.mcap_path = mcap_path;
  summary.mcap_messages = recorder->messagesWritten();
  summary.node_log = log_path;

  // Pictures of processed scans spread over the run.
  std::vector<std::size_t> processed;
  for (std::size_t k = 0; k < records.size(); ++k) {
    if (records[k].outputs > 0) {
      processed.push_back(k);
    }
  }
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < options.pictures && !processed.empty(); ++i) {
    const std::size_t at = (2 * i + 1) * processed.size() / (2 * options.pictures);
    chosen.push_back(processed[std::min(at, processed.size() - 1)]);
  }
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  const std::size_t gif_step = std::max<std::size_t>(1, (records.size() + 99) / 100);
  try {
    summary.pictures = lidar_demo::writePictures(
        records, chosen, pictureView(*node, base_to_lidar, options.colour_clusters),
        sourceTitle(options.source), picture_dir, gif_path, gif_step, 480, 0.1);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: pictures: %s\n", kProgram, error.what());
  }

  std::fputs(lidar_demo::formatSummary(summary).c_str(), stdout);
  lidar_demo::writeSummaryYaml(summary, summary_path);
  std::printf("summary: %s\n", summary_path.c_str());
  std::fflush(stdout);

  rclcpp::shutdown();
  return summary.processed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (tool_cli::helpRequested(argc, argv)) {
    printUsage();
    return 0;
  }
  const std::vector<std::string> args(argv, argv + argc);
  // The node's per-frame log lines go to its log file, not the terminal (see routeNodeLog).
  setenv("SPDLOG_STDOUT", "false", 0);
  setenv("SPDLOG_SYSTEMD", "false", 0);
  setenv("SPDLOG_LEVEL", "info", 0);
  try {
    const DemoOptions options = parseOptions(args);
    return runDemo(options, argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    if (rclcpp::ok()) {
      rclcpp::shutdown();
    }
    return 1;
  }
}
