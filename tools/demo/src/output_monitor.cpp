#include "lidar_demo/output_monitor.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lidar_demo {

namespace {

std::int64_t stampNs(const builtin_interfaces::msg::Time& stamp) {
  return static_cast<std::int64_t>(stamp.sec) * 1000000000LL + stamp.nanosec;
}

void appendXy(const sensor_msgs::msg::PointCloud2& cloud, PlanarPoints& out) {
  if (cloud.point_step < 12) {
    return;
  }
  for (std::size_t offset = 0; offset + 12 <= cloud.data.size(); offset += cloud.point_step) {
    float xy[2];
    std::memcpy(xy, cloud.data.data() + offset, sizeof(xy));
    out.push_back({xy[0], xy[1]});
  }
}

}  // namespace

PlanarPoints scanInBase(const scan_player::ScanFrame& frame,
                        const Eigen::Isometry3f& base_to_lidar) {
  PlanarPoints points;
  auto add = [&](float x, float y, float z) {
    if (std::isfinite(x) && std::isfinite(y) && std::isfinite(z)) {
      const Eigen::Vector3f p = base_to_lidar * Eigen::Vector3f(x, y, z);
      points.push_back({p.x(), p.y()});
    }
  };
  if (frame.cloud) {
    const auto& cloud = *frame.cloud;
    std::optional<std::uint32_t> offsets[3];
    const char* names[3] = {"x", "y", "z"};
    for (const auto& field : cloud.fields) {
      for (int i = 0; i < 3; ++i) {
        if (field.name == names[i] && field.datatype == sensor_msgs::msg::PointField::FLOAT32 &&
            field.offset + 4 <= cloud.point_step) {
          offsets[i] = field.offset;
        }
      }
    }
    if (!offsets[0] || !offsets[1] || !offsets[2] || cloud.is_bigendian) {
      return points;  // nothing to show; the node reports the cloud
    }
    const std::size_t count = static_cast<std::size_t>(cloud.width) * cloud.height;
    points.reserve(count);
    for (std::size_t i = 0; i < count && (i + 1) * cloud.point_step <= cloud.data.size(); ++i) {
      const std::uint8_t* point = cloud.data.data() + i * cloud.point_step;
      float xyz[3];
      for (int k = 0; k < 3; ++k) {
        std::memcpy(&xyz[k], point + *offsets[k], sizeof(float));
      }
      add(xyz[0], xyz[1], xyz[2]);
    }
  } else if (frame.custom) {
    points.reserve(frame.custom->points.size());
    for (const auto& p : frame.custom->points) {
      add(p.x, p.y, p.z);
    }
  }
  return points;
}

OutputMonitor::OutputMonitor(const rclcpp::Node::SharedPtr& node,
                             const std::vector<SemanticTopic>& semantic_topics,
                             const std::string& markers_topic,
                             const Eigen::Isometry3f& base_to_lidar)
    : base_to_lidar_(base_to_lidar), semantic_topics_(semantic_topics.size()) {
  for (const auto& topic : semantic_topics) {
    subscriptions_.push_back(node->create_subscription<corvanta_protocol::msg::SemanticPointCloud>(
        topic.name, rclcpp::QoS(50),
        [this, topic](std::shared_ptr<const corvanta_protocol::msg::SemanticPointCloud> message) {
          onSemantic(*message, topic);
        }));
  }
  if (!markers_topic.empty()) {
    subscriptions_.push_back(node->create_subscription<visualization_msgs::msg::MarkerArray>(
        markers_topic, rclcpp::QoS(50),
        [this](std::shared_ptr<const visualization_msgs::msg::MarkerArray> message) {
          onMarkers(*message);
        }));
  }
}

void OutputMonitor::onMarkers(const visualization_msgs::msg::MarkerArray& markers) {
  std::vector<DetectedBox> boxes;
  for (const auto& marker : markers.markers) {
    // A box is a line list whose first four segments run round its bottom: corners 0, 2, 4, 6.
    if (marker.action != visualization_msgs::msg::Marker::ADD || marker.points.size() < 8) {
      continue;
    }
    const auto& p = marker.points;
    const double ax = p[0].x, ay = p[0].y, bx = p[2].x, by = p[2].y, cx = p[4].x, cy = p[4].y;
    DetectedBox box;
    box.x = (p[0].x + p[2].x + p[4].x + p[6].x) / 4.0;
    box.y = (p[0].y + p[2].y + p[4].y + p[6].y) / 4.0;
    box.yaw = std::atan2(by - ay, bx - ax);
    box.width = std::hypot(bx - ax, by - ay);
    box.length = std::hypot(cx - bx, cy - by);
    boxes.push_back(box);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++detection_arrays_;
  detected_boxes_ += boxes.size();
  FrameRecord* oldest = nullptr;
  for (auto& entry : frames_) {
    if (entry.second.outputs == 0 && (oldest == nullptr || entry.second.index < oldest->index)) {
      oldest = &entry.second;
    }
  }
  if (oldest != nullptr) {
    oldest->detected = std::move(boxes);
  }
}

void OutputMonitor::played(const scan_player::ScanFrame& frame, std::int64_t output_stamp_ns) {
  FrameRecord record;
  record.stamp_ns = output_stamp_ns;
  record.played_at = std::chrono::steady_clock::now();
  record.truth = frame.truth;
  record.scan_xy = scanInBase(frame, base_to_lidar_);
  std::lock_guard<std::mutex> lock(mutex_);
  record.index = next_index_++;
  frames_[output_stamp_ns] = std::move(record);
}

void OutputMonitor::onSemantic(const corvanta_protocol::msg::SemanticPointCloud& message,
                               const SemanticTopic& topic) {
  const auto now = std::chrono::steady_clock::now();
  // The truth lookup is the expensive part; it runs outside the lock on a copy of the pointer.
  std::shared_ptr<const lidar_sim::SimulatedFrame> truth;
  const std::int64_t stamp = stampNs(message.header.stamp);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++received_[topic.name];
    const auto it = frames_.find(stamp);
    if (it == frames_.end()) {
      ++unknown_stamps_;
      return;
    }
    truth = it->second.truth;
  }
  lidar_sim::TruthCounts counts;
  if (truth) {
    lidar_sim::countTruths(message, lidar_sim::TruthIndex(*truth), counts);
  }
  PlanarPoints xy;
  std::vector<std::uint32_t> sizes;
  for (const auto& obstacle : message.obstacles) {
    const std::size_t before = xy.size();
    appendXy(obstacle.cloud, xy);
    sizes.push_back(static_cast<std::uint32_t>(xy.size() - before));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  FrameRecord& record = frames_.at(stamp);
  ++record.outputs;
  record.last_output_at = now;
  auto add_counts = [&](lidar_sim::TruthCounts& into) {
    into.moving += counts.moving;
    into.standing += counts.standing;
    into.structure += counts.structure;
    into.ground += counts.ground;
    into.unmatched += counts.unmatched;
  };
  if (topic.side == SemanticTopic::Side::kDynamic) {
    record.dynamic_clusters += message.obstacles.size();
    record.dynamic_xy.insert(record.dynamic_xy.end(), xy.begin(), xy.end());
    record.dynamic_cluster_sizes.insert(record.dynamic_cluster_sizes.end(), sizes.begin(),
                                        sizes.end());
    add_counts(record.on_dynamic);
  } else {
    record.static_clusters += message.obstacles.size();
    record.static_xy.insert(record.static_xy.end(), xy.begin(), xy.end());
    record.static_cluster_sizes.insert(record.static_cluster_sizes.end(), sizes.begin(),
                                       sizes.end());
    add_counts(record.on_static);
  }
}

std::size_t OutputMonitor::playedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}

std::size_t OutputMonitor::processedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t processed = 0;
  for (const auto& entry : frames_) {
    processed += entry.second.outputs > 0 ? 1 : 0;
  }
  return processed;
}

std::size_t OutputMonitor::completeCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t complete = 0;
  for (const auto& entry : frames_) {
    complete += entry.second.outputs >= semantic_topics_ ? 1 : 0;
  }
  return complete;
}

std::map<std::string, std::size_t> OutputMonitor::receivedByTopic() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::size_t OutputMonitor::unknownStamps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unknown_stamps_;
}

std::size_t OutputMonitor::detectionArrays() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return detection_arrays_;
}

std::size_t OutputMonitor::detectedBoxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return detected_boxes_;
}

std::vector<FrameRecord> OutputMonitor::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<FrameRecord> result;
  result.reserve(frames_.size());
  for (const auto& entry : frames_) {
    result.push_back(entry.second);
  }
  std::sort(result.begin(), result.end(),
            [](const FrameRecord& a, const FrameRecord& b) { return a.index < b.index; });
  return result;
}

}  // namespace lidar_demo
