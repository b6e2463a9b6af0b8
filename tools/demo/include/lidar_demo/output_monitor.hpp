// Watches the node's per-camera obstacle outputs and ties them to the scans that were played:
// which scans came out, how late, split how, and how well against the simulator's truth.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <rclcpp/rclcpp.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include "lidar_sim/output_truth.hpp"
#include "scan_player/scan_source.hpp"

namespace lidar_demo {

using PlanarPoints = std::vector<std::array<float, 2>>;

// A detected box's footprint, read back from its marker: `width` along `yaw`, `length` across.
struct DetectedBox {
  double x{0.0};
  double y{0.0};
  double length{0.0};
  double width{0.0};
  double yaw{0.0};
};

// One played scan and what the node made of it.
struct FrameRecord {
  std::int64_t stamp_ns{0};  // the stamp the node's outputs carry
  std::uint32_t index{0};    // order of playing
  std::chrono::steady_clock::time_point played_at;
  std::shared_ptr<const lidar_sim::SimulatedFrame> truth;
  PlanarPoints scan_xy;  // base frame (mount only), kept for pictures

  std::size_t outputs{0};  // semantic messages received
  std::optional<std::chrono::steady_clock::time_point> last_output_at;
  std::size_t dynamic_clusters{0};
  std::size_t static_clusters{0};
  PlanarPoints dynamic_xy;
  PlanarPoints static_xy;
  // Points per cluster, in the order the clusters' points follow each other in *_xy.
  std::vector<std::uint32_t> dynamic_cluster_sizes;
  std::vector<std::uint32_t> static_cluster_sizes;
  lidar_sim::TruthCounts on_dynamic;
  lidar_sim::TruthCounts on_static;
  // The detector's boxes. Markers carry no scan stamp: a marker array belongs to the oldest scan
  // still waiting for its outputs, which is the one the detector worked on (a scan's boxes go out
  // before its obstacles).
  std::vector<DetectedBox> detected;
};

// A semantic output topic and which side of the split it carries.
struct SemanticTopic {
  std::string name;
  enum class Side { kDynamic, kStatic, kUnsplit } side{Side::kUnsplit};
};

class OutputMonitor {
 public:
  // Subscribes on `node` to `semantic_topics` (reliable, as the node publishes them) and, when
  // `markers_topic` is not empty, to the detector's box markers.
  OutputMonitor(const rclcpp::Node::SharedPtr& node,
                const std::vector<SemanticTopic>& semantic_topics, const std::string& markers_topic,
                const Eigen::Isometry3f& base_to_lidar);

  // Registers a scan just before it is published; `output_stamp_ns` is the stamp the node will
  // give its outputs.
  void played(const scan_player::ScanFrame& frame, std::int64_t output_stamp_ns);

  std::size_t playedCount() const;
  // Scans with at least one output message.
  std::size_t processedCount() const;
  // Scans with a message on every semantic topic.
  std::size_t completeCount() const;
  // Semantic messages received, per topic (stamps of unknown scans included).
  std::map<std::string, std::size_t> receivedByTopic() const;
  // Output messages whose stamp matches no played scan.
  std::size_t unknownStamps() const;
  std::size_t detectionArrays() const;
  std::size_t detectedBoxes() const;

  // A copy of every record, in playing order (call after the executors stopped).
  std::vector<FrameRecord> records() const;

 private:
  void onMarkers(const visualization_msgs::msg::MarkerArray& markers);
  void onSemantic(const corvanta_protocol::msg::SemanticPointCloud& message,
                  const SemanticTopic& topic);

  Eigen::Isometry3f base_to_lidar_;
  std::vector<rclcpp::SubscriptionBase::SharedPtr> subscriptions_;
  mutable std::mutex mutex_;
  std::map<std::int64_t, FrameRecord> frames_;   // by output stamp; guarded by mutex_
  std::uint32_t next_index_{0};                  // guarded by mutex_
  std::size_t unknown_stamps_{0};                // guarded by mutex_
  std::map<std::string, std::size_t> received_;  // per semantic topic; guarded by mutex_
  const std::size_t semantic_topics_;
  std::size_t detection_arrays_{0};  // guarded by mutex_
  std::size_t detected_boxes_{0};    // guarded by mutex_
};

// base-frame x, y of a scan's points (PointCloud2 float32 x/y/z or the Livox points), moved by
// the static mount only, as the node moves them.
PlanarPoints scanInBase(const scan_player::ScanFrame& frame,
                        const Eigen::Isometry3f& base_to_lidar);

}  // namespace lidar_demo
