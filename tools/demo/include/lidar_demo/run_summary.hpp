// The figures of one run: throughput, latency, stage timings, split quality against the truth.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lidar_demo/output_monitor.hpp"
#include "lidar_demo/stage_timings.hpp"

namespace lidar_demo {

struct RunSummary {
  std::string source;
  double wall_s{0.0};
  std::size_t played{0};
  std::size_t processed{0};  // scans with output
  std::size_t dropped{0};    // played, never processed
  std::size_t skipped_scans{0};
  std::size_t unknown_stamps{0};
  double latency_median_ms{0.0};  // scan published -> its last obstacle message
  double latency_p95_ms{0.0};
  std::vector<StageStatistics> stages;
  double dynamic_clusters_per_scan{0.0};
  double static_clusters_per_scan{0.0};
  // Against the simulator's truth, when the scans have it.
  std::size_t frames_with_truth{0};
  std::optional<lidar_sim::SplitQuality> quality;
  lidar_sim::TruthCounts on_dynamic;
  lidar_sim::TruthCounts on_static;
  bool post_fusion{false};
  std::size_t detection_arrays{0};
  std::size_t detected_boxes{0};
  std::string mcap_path;
  std::uint64_t mcap_messages{0};
  std::string node_log;
  std::vector<std::string> pictures;
};

// Counts, latencies and truth figures from the records; the caller fills the rest.
RunSummary summarize(const std::vector<FrameRecord>& records, std::vector<StageStatistics> stages);

// The summary as the terminal shows it.
std::string formatSummary(const RunSummary& summary);

// The same figures as YAML, for scripts and CI. Throws std::runtime_error naming the file when it
// cannot be written.
void writeSummaryYaml(const RunSummary& summary, const std::string& path);

}  // namespace lidar_demo
