#include "lidar_demo/run_summary.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

namespace lidar_demo {

namespace {

void addCounts(lidar_sim::TruthCounts& into, const lidar_sim::TruthCounts& from) {
  into.moving += from.moving;
  into.standing += from.standing;
  into.structure += from.structure;
  into.ground += from.ground;
  into.unmatched += from.unmatched;
}

double nearestRank(std::vector<double> values, double q) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
  return values[std::min(values.size(), std::max<std::size_t>(index, 1)) - 1];
}

}  // namespace

RunSummary summarize(const std::vector<FrameRecord>& records, std::vector<StageStatistics> stages) {
  RunSummary summary;
  summary.played = records.size();
  std::vector<double> latencies;
  std::size_t dynamic_clusters = 0;
  std::size_t static_clusters = 0;
  for (const auto& record : records) {
    if (record.outputs == 0) {
      continue;
    }
    ++summary.processed;
    dynamic_clusters += record.dynamic_clusters;
    static_clusters += record.static_clusters;
    if (record.last_output_at) {
      latencies.push_back(
          std::chrono::duration<double, std::milli>(*record.last_output_at - record.played_at)
              .count());
    }
    if (record.truth) {
      ++summary.frames_with_truth;
      addCounts(summary.on_dynamic, record.on_dynamic);
      addCounts(summary.on_static, record.on_static);
    }
  }
  summary.dropped = summary.played - summary.processed;
  summary.latency_median_ms = nearestRank(latencies, 0.5);
  summary.latency_p95_ms = nearestRank(latencies, 0.95);
  if (summary.processed > 0) {
    summary.dynamic_clusters_per_scan =
        static_cast<double>(dynamic_clusters) / static_cast<double>(summary.processed);
    summary.static_clusters_per_scan =
        static_cast<double>(static_clusters) / static_cast<double>(summary.processed);
  }
  if (summary.frames_with_truth > 0) {
    summary.quality = lidar_sim::splitQuality(summary.on_dynamic, summary.on_static);
  }
  summary.stages = std::move(stages);
  return summary;
}

std::string formatSummary(const RunSummary& s) {
  std::string out = "\n==== summary ====\n";
  out += fmt::format("source            {}\n", s.source);
  out +=
      fmt::format("scans             {} played, {} processed, {} dropped{} in {:.1f} s\n", s.played,
                  s.processed, s.dropped,
                  s.skipped_scans ? fmt::format(", {} unreadable", s.skipped_scans) : "", s.wall_s);
  out +=
      fmt::format("latency           median {:.1f} ms, p95 {:.1f} ms (scan out -> obstacles in)\n",
                  s.latency_median_ms, s.latency_p95_ms);
  if (s.unknown_stamps > 0) {
    out += fmt::format("outputs with a stamp of no played scan: {}\n", s.unknown_stamps);
  }
  out += "stage timings (the node's own lines)          median      p95   samples\n";
  for (const auto& stage : s.stages) {
    out += fmt::format("  {:<42} {:7.3f}  {:7.3f} ms  {:>6}\n", stage.stage, stage.median_ms,
                       stage.p95_ms, stage.samples);
  }
  out += fmt::format("clusters per scan {:.1f} dynamic, {:.1f} static\n",
                     s.dynamic_clusters_per_scan, s.static_clusters_per_scan);
  if (s.quality) {
    out += fmt::format(
        "against the truth ({} scans)\n"
        "  dynamic precision {:.3f}  (dynamic output that is a person, cart or cyclist)\n"
        "  static precision  {:.3f}  (static output that is not a walking agent)\n"
        "  walking recall    {:.3f}  (points of walking agents in the dynamic output)\n"
        "  dynamic output points: {} walking, {} standing, {} structure, {} ground\n"
        "  static output points:  {} walking, {} standing, {} structure, {} ground\n",
        s.frames_with_truth, s.quality->dynamic_precision, s.quality->static_precision,
        s.quality->moving_recall, s.on_dynamic.moving, s.on_dynamic.standing,
        s.on_dynamic.structure, s.on_dynamic.ground, s.on_static.moving, s.on_static.standing,
        s.on_static.structure, s.on_static.ground);
  } else {
    out += "against the truth  (recorded data: no truth)\n";
  }
  if (s.post_fusion) {
    out += fmt::format("detections        {} boxes in {} marker arrays\n", s.detected_boxes,
                       s.detection_arrays);
  } else {
    out += "detections        post-fusion off (--post-fusion on runs the 3-D box detector)\n";
  }
  out += fmt::format("recording         {} ({} messages)\n", s.mcap_path, s.mcap_messages);
  for (const auto& picture : s.pictures) {
    out += fmt::format("picture           {}\n", picture);
  }
  out += fmt::format("node log          {}\n", s.node_log);
  return out;
}

void writeSummaryYaml(const RunSummary& s, const std::string& path) {
  YAML::Emitter yaml;
  yaml << YAML::BeginMap;
  yaml << YAML::Key << "source" << YAML::Value << s.source;
  yaml << YAML::Key << "wall_s" << YAML::Value << s.wall_s;
  yaml << YAML::Key << "scans" << YAML::Value << YAML::BeginMap;
  yaml << YAML::Key << "played" << YAML::Value << s.played;
  yaml << YAML::Key << "processed" << YAML::Value << s.processed;
  yaml << YAML::Key << "dropped" << YAML::Value << s.dropped;
  yaml << YAML::Key << "unreadable" << YAML::Value << s.skipped_scans;
  yaml << YAML::Key << "unknown_output_stamps" << YAML::Value << s.unknown_stamps;
  yaml << YAML::EndMap;
  yaml << YAML::Key << "latency_ms" << YAML::Value << YAML::BeginMap;
  yaml << YAML::Key << "median" << YAML::Value << s.latency_median_ms;
  yaml << YAML::Key << "p95" << YAML::Value << s.latency_p95_ms;
  yaml << YAML::EndMap;
  yaml << YAML::Key << "stages_ms" << YAML::Value << YAML::BeginMap;
  for (const auto& stage : s.stages) {
    yaml << YAML::Key << stage.stage << YAML::Value << YAML::Flow << YAML::BeginMap;
    yaml << YAML::Key << "median" << YAML::Value << stage.median_ms;
    yaml << YAML::Key << "p95" << YAML::Value << stage.p95_ms;
    yaml << YAML::Key << "samples" << YAML::Value << stage.samples;
    yaml << YAML::EndMap;
  }
  yaml << YAML::EndMap;
  yaml << YAML::Key << "clusters_per_scan" << YAML::Value << YAML::Flow << YAML::BeginMap
       << YAML::Key << "dynamic" << YAML::Value << s.dynamic_clusters_per_scan << YAML::Key
       << "static" << YAML::Value << s.static_clusters_per_scan << YAML::EndMap;
  if (s.quality) {
    yaml << YAML::Key << "truth" << YAML::Value << YAML::BeginMap;
    yaml << YAML::Key << "scans" << YAML::Value << s.frames_with_truth;
    yaml << YAML::Key << "dynamic_precision" << YAML::Value << s.quality->dynamic_precision;
    yaml << YAML::Key << "static_precision" << YAML::Value << s.quality->static_precision;
    yaml << YAML::Key << "walking_recall" << YAML::Value << s.quality->moving_recall;
    yaml << YAML::Key << "dynamic_points" << YAML::Value << s.on_dynamic.total();
    yaml << YAML::Key << "static_points" << YAML::Value << s.on_static.total();
    yaml << YAML::EndMap;
  }
  yaml << YAML::Key << "post_fusion" << YAML::Value << s.post_fusion;
  yaml << YAML::Key << "detected_boxes" << YAML::Value << s.detected_boxes;
  yaml << YAML::Key << "mcap" << YAML::Value << s.mcap_path;
  yaml << YAML::Key << "mcap_messages" << YAML::Value << s.mcap_messages;
  yaml << YAML::Key << "pictures" << YAML::Value << s.pictures;
  yaml << YAML::Key << "node_log" << YAML::Value << s.node_log;
  yaml << YAML::EndMap;
  std::ofstream file(path);
  file << yaml.c_str() << "\n";
  if (!file) {
    throw std::runtime_error(path + ": cannot write the summary");
  }
}

}  // namespace lidar_demo
