// The command-line options that choose a scan source, shared by the player and the main job.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scan_player/recorded_sources.hpp"
#include "scan_player/scan_source.hpp"

namespace scan_player {

struct SourceOptions {
  enum class Kind { kScenario, kDataset, kBag, kPcd, kRealScan };
  Kind kind{Kind::kScenario};
  std::string path{"office_crossing"};  // scenario name or file, data set, bag, folder, rawlog
  std::uint32_t frames{0};              // 0: all
  std::string lidar_preset;             // simulated sources: replace the sensor
  std::string scan_topic;               // bags
  std::optional<PlanarPose> fixed_pose;
  std::optional<MountPose> mount;
  double period_s{0.1};  // PCD folders
};

// The option lines for --help, one per option, aligned.
const char* sourceOptionsHelp();

// Takes the source options out of `args` (leaving everything else in order) and returns them.
// Throws std::invalid_argument naming the option and what was wrong with its value.
SourceOptions takeSourceOptions(std::vector<std::string>& args);

// "office_crossing" -> the installed (or source-tree) scenario file; a path stays as it is.
std::string resolveScenario(const std::string& name_or_path);

// Opens the chosen source. Errors name the file and what was wrong (see each source).
std::unique_ptr<ScanSource> openSource(const SourceOptions& options);

}  // namespace scan_player
