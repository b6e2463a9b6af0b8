#include "scan_player/recorded_sources.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include <fmt/format.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>
#include <pcl_conversions/pcl_conversions.h>
#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "lidar_sim/frame_messages.hpp"
#include "velodyne/cloud_message.hpp"
#include "velodyne/rawlog_reader.hpp"
#include "velodyne/sensor_mount.hpp"
#include "velodyne/vlp16_decoder.hpp"

namespace scan_player {

namespace {

constexpr const char* kPointCloud2Type = "sensor_msgs/msg/PointCloud2";
constexpr const char* kCustomMsgType = "livox_ros_driver2/msg/CustomMsg";
constexpr const char* kTfMessageType = "tf2_msgs/msg/TFMessage";
constexpr std::int64_t kFirstStampNs = 1000LL * 1000000000LL;

std::int64_t stampNs(const builtin_interfaces::msg::Time& stamp) {
  return static_cast<std::int64_t>(stamp.sec) * 1000000000LL + stamp.nanosec;
}

template <typename MessageT>
void decode(const bag_io::BagMessage& message, MessageT& out) {
  static const rclcpp::Serialization<MessageT> serialization;
  rclcpp::SerializedMessage serialized(message.data.size());
  auto& raw = serialized.get_rcl_serialized_message();
  std::copy(message.data.begin(), message.data.end(), raw.buffer);
  raw.buffer_length = message.data.size();
  serialization.deserialize_message(&serialized, &out);
}

}  // namespace

geometry_msgs::msg::TransformStamped mountTransform(const MountPose& mount,
                                                    const std::string& lidar_frame,
                                                    const std::string& base_frame) {
  constexpr double kDegree = M_PI / 180.0;
  Eigen::Isometry3d base_to_lidar = Eigen::Isometry3d::Identity();
  base_to_lidar.translation() = Eigen::Vector3d(mount.xyz[0], mount.xyz[1], mount.xyz[2]);
  base_to_lidar.linear() =
      (Eigen::AngleAxisd(mount.rpy_deg[2] * kDegree, Eigen::Vector3d::UnitZ()) *
       Eigen::AngleAxisd(mount.rpy_deg[1] * kDegree, Eigen::Vector3d::UnitY()) *
       Eigen::AngleAxisd(mount.rpy_deg[0] * kDegree, Eigen::Vector3d::UnitX()))
          .toRotationMatrix();
  return lidar_sim::toTransformStamped(base_to_lidar, base_frame, lidar_frame, 0);
}

void FixedPoseTrack::appendFor(std::int64_t stamp_ns,
                               std::vector<geometry_msgs::msg::TransformStamped>& transforms) {
  constexpr std::int64_t kLookAheadNs = 1000000000LL;
  if (last_stamp_ns_ < 0) {
    transforms.push_back(fixedPoseTransform(pose_, stamp_ns));
  }
  const std::int64_t ahead = stamp_ns + kLookAheadNs;
  if (ahead > last_stamp_ns_) {
    transforms.push_back(fixedPoseTransform(pose_, ahead));
    last_stamp_ns_ = ahead;
  }
}

// --- BagSource ---------------------------------------------------------------------------------

BagSource::BagSource(const std::string& path, const BagSourceOptions& options)
    : path_(path), reader_(bag_io::openBag(path)) {
  std::vector<std::string> candidates;
  bool has_tf_static = false;
  for (const auto& topic : reader_->topics()) {
    if (topic.type == kPointCloud2Type || topic.type == kCustomMsgType) {
      candidates.push_back(topic.name);
    }
    if (topic.name == "/tf" && topic.type == kTfMessageType) {
      has_tf_ = true;
    }
    if (topic.name == "/tf_static" && topic.type == kTfMessageType) {
      has_tf_static = true;
    }
  }
  auto list = [](const std::vector<std::string>& names) {
    return names.empty() ? std::string("none") : fmt::format("{}", fmt::join(names, ", "));
  };
  if (!options.scan_topic.empty()) {
    scan_topic_ = options.scan_topic;
    if (std::find(candidates.begin(), candidates.end(), scan_topic_) == candidates.end()) {
      throw std::runtime_error(
          fmt::format("{}: no PointCloud2 or CustomMsg topic named {} (scan topics in the bag: {})",
                      path, scan_topic_, list(candidates)));
    }
  } else if (candidates.size() == 1) {
    scan_topic_ = candidates.front();
  } else {
    throw std::runtime_error(fmt::format("{}: {} scan topics ({}); choose one with --scan-topic",
                                         path, candidates.empty() ? "no" : "several",
                                         list(candidates)));
  }
  for (const auto& topic : reader_->topics()) {
    if (topic.name == scan_topic_) {
      scan_is_custom_ = topic.type == kCustomMsgType;
      if (topic.message_count > 0) {
        frame_count_ = static_cast<std::size_t>(topic.message_count);
      }
    }
  }

  if (!has_tf_) {
    if (!options.fixed_pose) {
      throw std::runtime_error(fmt::format(
          "{}: the bag has no /tf, so no map -> base_footprint pose for the motion detector; play "
          "it with a robot standing still: --fixed-pose X,Y,YAW_DEG (for example 0,0,0)",
          path));
    }
    fixed_pose_.emplace(*options.fixed_pose);
  }

  if (has_tf_static) {
    reader_->setTopicFilter({"/tf_static"});
    bag_io::BagMessage message;
    while (reader_->readNext(message)) {
      tf2_msgs::msg::TFMessage tf;
      try {
        decode(message, tf);
      } catch (const std::exception& error) {
        skip(message, error.what());
        continue;
      }
      for (const auto& transform : tf.transforms) {
        auto same_child = [&](const geometry_msgs::msg::TransformStamped& known) {
          return known.child_frame_id == transform.child_frame_id;
        };
        static_transforms_.erase(
            std::remove_if(static_transforms_.begin(), static_transforms_.end(), same_child),
            static_transforms_.end());
        static_transforms_.push_back(transform);
      }
    }
  }
  if (options.mount) {
    // The mount names the scans' own frame: read it from the first scan.
    reader_->setTopicFilter({scan_topic_});
    bag_io::BagMessage message;
    ScanFrame first;
    std::string lidar_frame;
    while (lidar_frame.empty() && reader_->readNext(message)) {
      if (decodeScan(message, first)) {
        lidar_frame = first.cloud ? first.cloud->header.frame_id : first.custom->header.frame_id;
      }
    }
    if (lidar_frame.empty()) {
      throw std::runtime_error(fmt::format("{}: no readable message on {}", path, scan_topic_));
    }
    static_transforms_.push_back(mountTransform(*options.mount, lidar_frame));
  } else if (static_transforms_.empty()) {
    throw std::runtime_error(fmt::format(
        "{}: the bag has no /tf_static, so no base_footprint -> lidar mount; give it: --mount "
        "X,Y,Z,ROLL_DEG,PITCH_DEG,YAW_DEG (for example 0,0,0.3,0,0,0)",
        path));
  }

  std::vector<std::string> topics{scan_topic_};
  if (has_tf_) {
    topics.push_back("/tf");
  }
  reader_->setTopicFilter(topics);
}

std::string BagSource::describe() const {
  return fmt::format("bag {} ({}{}{})", path_, scan_topic_,
                     frame_count_ ? fmt::format(", {} scans", *frame_count_) : std::string(),
                     fixed_pose_ ? ", fixed pose" : "");
}

void BagSource::skip(const bag_io::BagMessage& message, const std::string& reason) {
  ++skipped_;
  std::fprintf(stderr, "%s: skipping the message on %s at log time %.9f: %s\n", path_.c_str(),
               message.topic.c_str(), static_cast<double>(message.log_time) * 1e-9, reason.c_str());
}

bool BagSource::decodeScan(const bag_io::BagMessage& message, ScanFrame& frame) {
  try {
    if (scan_is_custom_) {
      frame.custom = std::make_shared<livox_ros_driver2::msg::CustomMsg>();
      decode(message, *frame.custom);
      frame.stamp_ns = stampNs(frame.custom->header.stamp);
    } else {
      frame.cloud = std::make_shared<sensor_msgs::msg::PointCloud2>();
      decode(message, *frame.cloud);
      frame.stamp_ns = stampNs(frame.cloud->header.stamp);
    }
    return true;
  } catch (const std::exception& error) {
    skip(message, error.what());
    frame.cloud.reset();
    frame.custom.reset();
    return false;
  }
}

bool BagSource::next(ScanFrame& frame) {
  frame = ScanFrame{};
  bag_io::BagMessage message;
  while (reader_->readNext(message)) {
    if (message.topic == "/tf") {
      tf2_msgs::msg::TFMessage tf;
      try {
        decode(message, tf);
      } catch (const std::exception& error) {
        skip(message, error.what());
        continue;
      }
      frame.transforms.insert(frame.transforms.end(), tf.transforms.begin(), tf.transforms.end());
      continue;
    }
    if (decodeScan(message, frame)) {
      if (fixed_pose_) {
        fixed_pose_->appendFor(frame.stamp_ns, frame.transforms);
      }
      return true;
    }
  }
  return false;
}

// --- PcdSource ---------------------------------------------------------------------------------

PcdSource::PcdSource(const std::string& folder, double period_s, const MountPose& mount,
                     const PlanarPose& pose, const std::string& lidar_frame)
    : folder_(folder),
      period_ns_(static_cast<std::int64_t>(std::llround(period_s * 1e9))),
      mount_(mount),
      pose_(pose),
      lidar_frame_(lidar_frame) {
  if (!(period_s > 0.0) || !std::isfinite(period_s)) {
    throw std::runtime_error(fmt::format("{}: the period between scans must be > 0 s", folder));
  }
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file() && entry.path().extension() == ".pcd") {
      files_.push_back(entry.path().string());
    }
  }
  if (error) {
    throw std::runtime_error(
        fmt::format("{}: cannot list the folder: {}", folder, error.message()));
  }
  if (files_.empty()) {
    throw std::runtime_error(fmt::format("{}: no .pcd files in the folder", folder));
  }
  std::sort(files_.begin(), files_.end());
}

std::string PcdSource::describe() const {
  return fmt::format("PCD folder {} ({} scans)", folder_, files_.size());
}

std::vector<geometry_msgs::msg::TransformStamped> PcdSource::staticTransforms() const {
  return {mountTransform(mount_, lidar_frame_)};
}

bool PcdSource::next(ScanFrame& frame) {
  if (next_index_ >= files_.size()) {
    return false;
  }
  const std::string& file = files_[next_index_];
  pcl::PCLPointCloud2 pcl_cloud;
  pcl::PCDReader reader;
  if (reader.read(file, pcl_cloud) < 0) {
    throw std::runtime_error(fmt::format("{}: PCL cannot read this PCD file", file));
  }
  frame = ScanFrame{};
  frame.stamp_ns = kFirstStampNs + static_cast<std::int64_t>(next_index_) * period_ns_;
  frame.cloud = std::make_shared<sensor_msgs::msg::PointCloud2>();
  pcl_conversions::moveFromPCL(pcl_cloud, *frame.cloud);
  frame.cloud->header.frame_id = lidar_frame_;
  frame.cloud->header.stamp = lidar_sim::toTimeMsg(frame.stamp_ns);
  pose_.appendFor(frame.stamp_ns, frame.transforms);
  ++next_index_;
  return true;
}

// --- Vlp16SweepSource --------------------------------------------------------------------------

Vlp16SweepSource::Vlp16SweepSource(const std::string& rawlog, std::uint32_t frames)
    : rawlog_(rawlog), frames_(frames) {
  const velodyne::FoundPackets found = velodyne::readRawlogPackets(rawlog);
  std::vector<velodyne::Vlp16Point> points;
  try {
    points = velodyne::decodeSweep(found.packets);
  } catch (const std::exception& error) {
    throw std::runtime_error(fmt::format("{}: {}", rawlog, error.what()));
  }
  points_ = points.size();
  sweep_ = velodyne::toPointCloud2(points, kFirstStampNs);
}

std::string Vlp16SweepSource::describe() const {
  return fmt::format("real VLP-16 sweep {} ({} points), {} frames", rawlog_, points_, frames_);
}

std::vector<geometry_msgs::msg::TransformStamped> Vlp16SweepSource::staticTransforms() const {
  return {velodyne::sensorMountTransform(kFirstStampNs)};
}

bool Vlp16SweepSource::next(ScanFrame& frame) {
  if (next_index_ >= frames_) {
    return false;
  }
  frame = ScanFrame{};
  frame.stamp_ns = kFirstStampNs + static_cast<std::int64_t>(next_index_) * 100000000LL;
  frame.cloud = std::make_shared<sensor_msgs::msg::PointCloud2>(sweep_);
  frame.cloud->header.stamp = lidar_sim::toTimeMsg(frame.stamp_ns);
  pose_.appendFor(frame.stamp_ns, frame.transforms);
  ++next_index_;
  return true;
}

}  // namespace scan_player
