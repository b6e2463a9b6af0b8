// The node's detector thread: start-up, the thread body with its box markers, the hand-over of
// each frame's obstacle points and the pipeline's bounded wait for the boxes.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include <yaml-cpp/yaml.h>
#include <ament_index_cpp/get_package_share_directory.hpp>

#include "3d_lidar_detect_node.hpp"
#include "box_markers.hpp"
#include "logger.hpp"
#include "wall_clock.hpp"

namespace lidar_perception {

void LidarDetectNode::readDetectorParameters() {
  detector_wait_timeout_ = 0.1;
  if (has_parameter("post_fusion.wait_timeout")) {
    get_parameter("post_fusion.wait_timeout", detector_wait_timeout_);
  }
  point_dump_directory_ = "/tmp/lidar_obstacle_detector/detector_input";
  if (has_parameter("post_fusion.dump_directory")) {
    get_parameter("post_fusion.dump_directory", point_dump_directory_);
  }
  LOG_INFO("post_fusion.wait_timeout = {}", detector_wait_timeout_);
  LOG_INFO("post_fusion.dump_directory = {}", point_dump_directory_);
  if (!std::isfinite(detector_wait_timeout_) || detector_wait_timeout_ <= 0.0) {
    throw std::invalid_argument(
        fmt::format("post_fusion.wait_timeout must be a number of seconds > 0, got {}",
                    detector_wait_timeout_));
  }
}

void LidarDetectNode::startDetectorThread() {
  readDetectorParameters();
  const std::string trelvon_config_file =
      ament_index_cpp::get_package_share_directory("corvanta_3d_lidar_detect") +
      "/config/default_params/trelvon.yaml";
  LOG_INFO("startDetectorThread: trelvon_config_file = {}", trelvon_config_file);
  detector_ = trelvon::CreateTrelvon(YAML::LoadFile(trelvon_config_file));
  LOG_INFO("startDetectorThread: detector_ address: {}",
           static_cast<uint64_t>(reinterpret_cast<uintptr_t>(detector_.get())));
  if (detector_ == nullptr) {
    const std::string reason = fmt::format(
        "post_fusion.enable is true but the 3-D box detector could not be created from {} (the "
        "lines above say why); no detector thread is started",
        trelvon_config_file);
    LOG_ERROR("startDetectorThread: {}", reason);
    throw std::runtime_error(reason);
  }
  if (!enable_dynamic_static_split_) {
    LOG_INFO(
        "startDetectorThread: enable_dynamic_static_split is false, so boxes are detected but "
        "promote no cluster");
  }
  detector_input_queue_ = std::make_shared<norvel::utils::BlockingQueue<DetectorInput>>(
      kDetectorQueueCapacity, "unknown");
  detector_output_queue_ = std::make_shared<norvel::utils::BlockingQueue<DetectorOutput>>(
      kDetectorQueueCapacity, "unknown");
  point_dump_ = std::make_shared<PointDumpWriter>(point_dump_directory_);
  // The publisher exists before the thread that uses it starts.
  if (debug_) {
    bounding_boxes_pub_ = create_publisher<visualization_msgs::msg::MarkerArray>(
        "/livox/boundingboxes", rclcpp::QoS(rclcpp::KeepLast(10)));
    published_topics_.push_back(
        {bounding_boxes_pub_->get_topic_name(), "visualization_msgs/msg/MarkerArray", "", -1});
  }
  detector_thread_ = std::make_shared<std::thread>(&LidarDetectNode::detectorThread, this);
}

void LidarDetectNode::stopDetectorThread() {
  detector_stop_ = true;
  if (detector_input_queue_ != nullptr) {
    detector_input_queue_->close();
  }
  if (detector_output_queue_ != nullptr) {
    detector_output_queue_->close();
  }
  if (detector_thread_ != nullptr && detector_thread_->joinable()) {
    detector_thread_->join();
  }
}

void LidarDetectNode::detectorThread() {
  bool marker_failure_logged = false;
  while (rclcpp::ok() && !detector_stop_) {
    DetectorInput input;
    try {
      input = detector_input_queue_->pop();
    } catch (const norvel::utils::QueueClosed&) {
      break;  // the node is being destroyed
    }
    if (input.frame_sequence <= detector_abandoned_frame_) {
      // Its frame went out without boxes already; a newer frame is waiting.
      LOG_DEBUG("detectorThread: frame {} skipped, it was published without boxes",
                input.frame_sequence);
      continue;
    }
    LOG_ERROR("Trelvon Forward before.");
    std::vector<BBox> boxes;
    try {
      detector_->Forward(input.cloud);
      boxes = detector_->GetBboxes();
    } catch (const std::exception& error) {
      // The frame gets an empty box list, so that it need not wait for the time-out.
      LOG_ERROR("detectorThread: detection in frame {} failed: {}", input.frame_sequence,
                error.what());
      boxes.clear();
    }
    DetectorOutput output;
    output.boxes = boxes;
    output.frame_sequence = input.frame_sequence;
    detector_output_queue_->push(std::move(output));
    if (debug_) {
      LOG_INFO("detector thread: {} boxes", boxes.size());
      publishBoxMarkers(boxes, marker_failure_logged);
    }
  }
}

void LidarDetectNode::publishBoxMarkers(const std::vector<BBox>& boxes, bool& failure_logged) {
  if (bounding_boxes_pub_ == nullptr) {
    return;
  }
  try {
    bounding_boxes_pub_->publish(makeBoxMarkers(boxes, base_frame_id_, *get_clock()));
    if (failure_logged) {
      LOG_INFO("detectorThread: box markers are published again");
      failure_logged = false;
    }
  } catch (const std::exception& error) {
    // Markers are a debugging aid: the boxes already went to the pipeline.
    if (!failure_logged) {
      LOG_ERROR("detectorThread: publishing box markers failed: {}; the detector goes on",
                error.what());
      failure_logged = true;
    }
  }
}

void LidarDetectNode::handOverToDetector(const CloudList& obstacle_clouds) {
  auto merged = std::make_shared<PointCloud>();
  size_t total = 0;
  for (const PointCloudPtr& cloud : obstacle_clouds) {
    total += cloud->size();
  }
  merged->reserve(total);
  for (const PointCloudPtr& cloud : obstacle_clouds) {
    *merged += *cloud;
  }
  if (debug_ && !point_dump_directory_.empty()) {
    point_dump_->write(*merged);
  }
  DetectorInput input;
  input.cloud = std::move(merged);
  input.frame_sequence = ++detector_frame_sequence_;
  detector_input_queue_->push(std::move(input));
}

std::optional<DetectorOutput> LidarDetectNode::awaitDetectorOutput(uint64_t frame_sequence) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(detector_wait_timeout_));
  while (true) {
    const auto remaining = deadline - std::chrono::steady_clock::now();
    std::optional<DetectorOutput> output =
        detector_output_queue_->popFor(std::max(remaining, remaining.zero()));
    if (!output.has_value()) {
      return std::nullopt;
    }
    if (output->frame_sequence == frame_sequence) {
      return output;
    }
    // A late output of a frame that was published without it.
  }
}

void LidarDetectNode::waitDetectorOutput(std::vector<CloudList>& dynamic_clusters,
                                         std::vector<CloudList>& static_clusters) {
  if (!enable_detector_thread_) {
    return;
  }
  const auto t0 = WallClock::now();
  const uint64_t frame = detector_frame_sequence_;
  std::optional<DetectorOutput> output = awaitDetectorOutput(frame);
  LOG_INFO("waitDetectorOutput: {} ms.", elapsedMs(t0));
  if (!output.has_value()) {
    detector_abandoned_frame_ = frame;
    if (detector_late_frames_ == 0) {
      LOG_ERROR(
          "waitDetectorOutput: no boxes for frame {} within post_fusion.wait_timeout = {} s; "
          "frames are published without post-fusion until the detector keeps up again",
          frame, detector_wait_timeout_);
    }
    ++detector_late_frames_;
    return;
  }
  if (detector_late_frames_ > 0) {
    LOG_INFO("waitDetectorOutput: the detector keeps up again after {} frames without post-fusion",
             detector_late_frames_);
    detector_late_frames_ = 0;
  }
  // Without the split there are no static clusters to promote.
  if (!enable_dynamic_static_split_) {
    return;
  }
  postFusion(output->boxes, dynamic_clusters, static_clusters);
}

}  // namespace lidar_perception
