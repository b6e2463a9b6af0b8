#include "scan_player/source_options.hpp"

#include <cmath>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>
#include <ament_index_cpp/get_package_share_directory.hpp>

#include "scan_player/simulator_source.hpp"
#include "tool_cli/command_line.hpp"
#include "velodyne/mrpt_dataset.hpp"

namespace scan_player {

namespace {

std::vector<double> parseNumbers(const std::string& option, const std::string& text,
                                 std::size_t count) {
  std::vector<double> values;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    std::size_t used = 0;
    double value = 0.0;
    try {
      value = std::stod(item, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != item.size() || !std::isfinite(value)) {
      throw std::invalid_argument(
          fmt::format("{} {}: '{}' is not a finite number", option, text, item));
    }
    values.push_back(value);
  }
  if (values.size() != count) {
    throw std::invalid_argument(fmt::format("{} {}: expected {} comma-separated numbers, got {}",
                                            option, text, count, values.size()));
  }
  return values;
}

std::uint32_t parseCount(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  unsigned long value = 0;
  try {
    value = std::stoul(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text[0] == '-' || value > 1000000UL) {
    throw std::invalid_argument(
        fmt::format("{} {}: expected a whole number from 0 to 1000000", option, text));
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

const char* sourceOptionsHelp() {
  return "  --scenario NAME|FILE   simulate a scenario (default office_crossing; also corridor,\n"
         "                         crowded_hall, standing_person, or a scenario file)\n"
         "  --dataset DIR          play a data set written by lidar_scene_sim\n"
         "  --bag PATH             play a ROS 2 bag: a folder with metadata.yaml, a .db3 or .mcap\n"
         "  --pcd DIR              play the .pcd files of a folder in name order\n"
         "  --real-scan [RAWLOG]   play the real VLP-16 sweep of Debian's mrpt-common\n"
         "  --frames N             play at most N scans (simulated: the scenario's count;\n"
         "                         real scan: 50)\n"
         "  --lidar PRESET         simulated: spinning16, spinning32 or livox instead of the\n"
         "                         scenario's sensor\n"
         "  --scan-topic TOPIC     bag: the topic with the scans (default: its only one)\n"
         "  --fixed-pose X,Y,YAW   bag without /tf, PCD: the robot's map pose (m, m, degrees)\n"
         "  --mount X,Y,Z,R,P,Y    bag without /tf_static, PCD: base_footprint -> lidar (m, deg);\n"
         "                         PCD default 0,0,0.3,0,0,0\n"
         "  --period S             PCD: seconds between scans (default 0.1)\n";
}

SourceOptions takeSourceOptions(std::vector<std::string>& args) {
  SourceOptions options;
  std::vector<std::string> rest;
  int sources = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&] { return tool_cli::nextValue(args, i); };
    auto source = [&](SourceOptions::Kind kind) {
      ++sources;
      options.kind = kind;
    };
    if (arg == "--scenario") {
      source(SourceOptions::Kind::kScenario);
      options.path = value();
    } else if (arg == "--dataset") {
      source(SourceOptions::Kind::kDataset);
      options.path = value();
    } else if (arg == "--bag") {
      source(SourceOptions::Kind::kBag);
      options.path = value();
    } else if (arg == "--pcd") {
      source(SourceOptions::Kind::kPcd);
      options.path = value();
    } else if (arg == "--real-scan") {
      source(SourceOptions::Kind::kRealScan);
      options.path = velodyne::kMrptVlp16Rawlog;
      if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0) {
        options.path = args[++i];
      }
    } else if (arg == "--frames") {
      options.frames = parseCount(arg, value());
    } else if (arg == "--lidar") {
      options.lidar_preset = value();
    } else if (arg == "--scan-topic") {
      options.scan_topic = value();
    } else if (arg == "--fixed-pose") {
      const auto v = parseNumbers(arg, value(), 3);
      options.fixed_pose = PlanarPose{v[0], v[1], v[2] * M_PI / 180.0};
    } else if (arg == "--mount") {
      const auto v = parseNumbers(arg, value(), 6);
      options.mount = MountPose{{v[0], v[1], v[2]}, {v[3], v[4], v[5]}};
    } else if (arg == "--period") {
      options.period_s = parseNumbers(arg, value(), 1)[0];
      if (!(options.period_s > 0.0)) {
        throw std::invalid_argument("--period must be > 0 seconds");
      }
    } else {
      rest.push_back(arg);
    }
  }
  if (sources > 1) {
    throw std::invalid_argument(
        "choose one source: --scenario, --dataset, --bag, --pcd or --real-scan");
  }
  args = std::move(rest);
  return options;
}

std::string resolveScenario(const std::string& name_or_path) {
  if (name_or_path.find('/') != std::string::npos ||
      std::filesystem::path(name_or_path).extension() == ".yaml") {
    return name_or_path;
  }
  const std::string file = name_or_path + ".yaml";
  try {
    const std::string installed =
        ament_index_cpp::get_package_share_directory("corvanta_3d_lidar_detect") + "/scenarios/" +
        file;
    if (std::filesystem::exists(installed)) {
      return installed;
    }
  } catch (const std::exception&) {
    // Not installed and not on AMENT_PREFIX_PATH: the source tree's copy below.
  }
  const std::string in_tree = std::string(CORVANTA_SCENARIO_SOURCE_DIR) + "/" + file;
  if (std::filesystem::exists(in_tree)) {
    return in_tree;
  }
  throw std::invalid_argument(
      fmt::format("no scenario named '{}' (shipped: office_crossing, corridor, crowded_hall, "
                  "standing_person; or give a scenario file)",
                  name_or_path));
}

std::unique_ptr<ScanSource> openSource(const SourceOptions& options) {
  switch (options.kind) {
    case SourceOptions::Kind::kScenario:
    case SourceOptions::Kind::kDataset: {
      SimulatorSourceOptions simulated;
      simulated.frames = options.frames;
      simulated.lidar_preset = options.lidar_preset;
      const std::string path = options.kind == SourceOptions::Kind::kScenario
                                   ? resolveScenario(options.path)
                                   : options.path;
      return std::make_unique<SimulatorSource>(path, simulated);
    }
    case SourceOptions::Kind::kBag: {
      BagSourceOptions bag;
      bag.scan_topic = options.scan_topic;
      bag.fixed_pose = options.fixed_pose;
      bag.mount = options.mount;
      return std::make_unique<BagSource>(options.path, bag);
    }
    case SourceOptions::Kind::kPcd:
      return std::make_unique<PcdSource>(options.path, options.period_s,
                                         options.mount.value_or(MountPose{}),
                                         options.fixed_pose.value_or(PlanarPose{}));
    case SourceOptions::Kind::kRealScan:
      return std::make_unique<Vlp16SweepSource>(options.path,
                                                options.frames > 0 ? options.frames : 50);
  }
  throw std::logic_error("unknown source kind");
}

}  // namespace scan_player
