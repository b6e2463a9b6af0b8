// The lidar obstacle detection node.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <Eigen/Core>

#include <tf2_ros/buffer.h>
#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_listener.h>
#include <corvanta_protocol/msg/semantic_point_cloud.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <rcl_interfaces/msg/set_parameters_result.hpp>
#include <rclcpp/rclcpp.hpp>
#include <rclcpp_lifecycle/lifecycle_node.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include <camera_frame.hpp>
#include <norvel/perception/cloud_cluster.hpp>
#include <norvel/perception/dynamic_cloud_detector.hpp>
#include <norvel/perception/remove_ground_line_fit.hpp>

#include "blocking_queue.hpp"
#include "detector_io.hpp"
#include "point_dump.hpp"
#include "publisher_skip_frame.hpp"
#include "shutdown_deferral.hpp"
#include "stage_lanes.hpp"
#include "trelvon.hpp"
#include "virtual_camera.hpp"

namespace lidar_perception {

// The lidar obstacle detection node.
//
// The constructor runs the configure transition itself: it reads every parameter, sets up TF, the
// one lidar subscription, the parameter callback, the per-camera publishers, the virtual cameras
// (waiting for the lidar-to-base transform) and the perception objects. Afterwards every scan runs
// through processOneFrame on the subscription's mutually exclusive callback group, so frames never
// overlap. Everything built at configuration is read-only afterwards, except the ground-removal
// values, which the parameter callback changes under params_mutex_.
//
// Per-camera lists are indexed by virtual camera index and hold one entry per camera; they are
// filled once and accessed with bounds tests. Callbacks hold a plain pointer to the node, which
// outlives them: the executor and the TF listener are stopped before the node is released.
//
// With post_fusion.enable the node owns a detector thread (started at configuration, stopped and
// joined by the destructor) that runs the 3-D box detector on each frame's obstacle points; the
// two bounded queues between it and the pipeline are the only state they share. A frame waits at
// most post_fusion.wait_timeout seconds for its boxes and is published without them otherwise;
// boxes always reach the frame they were detected in, or nothing.
class LidarDetectNode : public rclcpp_lifecycle::LifecycleNode {
 public:
  using CallbackReturn = rclcpp_lifecycle::node_interfaces::LifecycleNodeInterface::CallbackReturn;
  using PointCloud = pcl::PointCloud<pcl::PointXYZ>;
  using PointCloudPtr = PointCloud::Ptr;
  using CloudList = std::vector<PointCloudPtr>;
  using CloudPublisher = rclcpp::Publisher<sensor_msgs::msg::PointCloud2>;
  using SemanticPublisher = rclcpp::Publisher<corvanta_protocol::msg::SemanticPointCloud>;

  // Creates the node named `node_name` and configures it; configuration has finished (or
  // failed, which the lifecycle state shows) when the constructor returns.
  explicit LidarDetectNode(const std::string& node_name);
  ~LidarDetectNode() override;

  // A topic the node publishes on: its resolved name and ROS type ("sensor_msgs/msg/PointCloud2").
  struct PublishedTopic {
    std::string name;
    std::string type;
    // The per-camera parameter that named it ("lidar_semantic_dynamic_obstacles_topic") and the
    // camera's index; empty and -1 for topics of the whole node.
    std::string parameter;
    int camera{-1};
  };
  // Every topic the node publishes on, in the order its publishers were made (empty before
  // configuration created them); for tools that record or watch the node's output.
  const std::vector<PublishedTopic>& publishedTopics() const { return published_topics_; }

  CallbackReturn on_configure(const rclcpp_lifecycle::State& previous_state) override;

  // Looks up the transform from `source` to `target` at `stamp`, waiting at most
  // get_tf_duration seconds. On success fills `matrix` (maps source coordinates into target) and
  // returns true; on failure logs the TF error, leaves `matrix` untouched and returns false.
  bool getTransformMatrix(const std::string& target, const std::string& source,
                          const rclcpp::Time& stamp, Eigen::Matrix4f& matrix);

  // Runs every stage of the pipeline on one scan given in the lidar frame.
  void processOneFrame(const PointCloudPtr& cloud, const rclcpp::Time& stamp);

  // True once on_configure ran to its end; frames reaching a node whose configuration failed
  // part-way are dropped.
  bool configured() const { return configured_.load(); }

 private:
  // Parameters.
  void getCommonParameters();
  void getRemoveGroundPara();
  void getPointCloudClusterPara();
  // Throws std::invalid_argument naming the key when the cameras' azimuth ranges or the region
  // of interest cannot work; called with the angles still in degrees.
  void validateCommonParameters() const;
  template <typename T>
  void readParameter(const std::string& key, T& member, const T& default_value);

  // Configuration steps.
  void setUpTransforms();
  void createLidarSubscription();
  void createPublishers();
  void startDetectorThread();
  void readDetectorParameters();
  // Waits for the lidar-to-base transform, then builds the cameras; false when shutdown was
  // requested during the wait.
  bool buildVirtualCameraGroup();
  void createPerceptionObjects();

  // Intake.
  void lidarMsgCallback(const sensor_msgs::msg::PointCloud2::ConstSharedPtr msg);
  void lidarCustomMsgCallback(const livox_ros_driver2::msg::CustomMsg::ConstSharedPtr msg);

  // Pipeline stages.
  void consumeParameterUpdate();
  void publishCameraInfo(const rclcpp::Time& stamp);
  // The scan moved into the base frame and cut to the region of interest, in consecutive parts
  // (one per lane, in the scan's order) that stay valid until the next frame.
  const CloudList& cloudInRegion(const PointCloud& cloud);
  size_t cameraCount() const { return static_cast<size_t>(std::max(virtual_cameras_num_, 0)); }
  CloudList splitIntoVirtualCameras(const CloudList& region_parts) const;
  void updateCameraFrame(const CloudList& split_clouds);
  void coneRemove(const CloudList& split_clouds, CloudList& cone_filtered_clouds);
  // Also hands back each camera's ground points (empty where ground removal is off), which the
  // motion detectors take as evidence of free space.
  void doGroundRemove(const CloudList& cone_filtered_clouds, CloudList& obstacle_clouds,
                      CloudList& ground_clouds);
  void handOverToDetector(const CloudList& obstacle_clouds);
  void doCluster(const CloudList& obstacle_clouds, std::vector<CloudList>& cluster_lists);
  void doDynamicStaticSplit(const CloudList& obstacle_clouds, const CloudList& ground_clouds,
                            const std::vector<CloudList>& cluster_lists,
                            std::vector<CloudList>& dynamic_lists,
                            std::vector<CloudList>& static_lists);
  void waitDetectorOutput(std::vector<CloudList>& dynamic_clusters,
                          std::vector<CloudList>& static_clusters);
  void postFusion(const std::vector<BBox>& boxes, std::vector<CloudList>& dynamic_clusters,
                  std::vector<CloudList>& static_clusters);
  void publishSemanticPointCloud(const CloudList& clusters, const rclcpp::Time& stamp,
                                 const std::shared_ptr<SemanticPublisher>& semantic_pub,
                                 const std::shared_ptr<CloudPublisher>& cloud_pub,
                                 bool pub_sem_info, bool pub_cloud_info, uint32_t camera_index);

  // Detector thread.
  void detectorThread();
  void publishBoxMarkers(const std::vector<BBox>& boxes, bool& failure_logged);
  // Waits until the detector's output for frame `frame_sequence` arrives, dropping late outputs
  // of earlier frames; empty when post_fusion.wait_timeout passes first.
  std::optional<DetectorOutput> awaitDetectorOutput(uint64_t frame_sequence);
  // Sets the stop flag, closes both queues (waking the thread's pop) and joins the thread.
  void stopDetectorThread();

  rcl_interfaces::msg::SetParametersResult dynamicParametersCallback(
      const std::vector<rclcpp::Parameter>& parameters);

  // Tests inspect configuration results through this peer.
  friend class LidarDetectNodeTestPeer;

  // Frame names, topic and counts.
  std::string map_frame_id_;
  std::string base_frame_id_;
  std::string lidar_frame_id_;
  std::string lidar_topic_;
  rclcpp::Time current_stamp_{0, 0, RCL_SYSTEM_TIME};
  int32_t virtual_cameras_num_{};

  // Per-camera lists, entry n belongs to virtual camera n.
  std::vector<VirtualCameraParam> virtual_cameras_param_;
  std::vector<sensor_msgs::msg::CameraInfo> virtual_cameras_info_;
  std::vector<std::shared_ptr<VirtualCameraConfig>> virtual_camera_configs_;
  std::vector<Eigen::Matrix4f> Tvirtual_cams2lidar_;
  std::vector<Eigen::Matrix4f> Tlidar2virtual_cams_;
  std::vector<Eigen::Matrix4f> Tvirtual_cams2base_;
  std::vector<Eigen::Matrix4f> Tbase2virtual_cams_;
  std::vector<geometry_msgs::msg::TransformStamped> virtual_cameras_tf_;
  std::vector<PointCloudPtr> virtual_cameras_frustum_cloud_;

  // TF and the lidar subscription.
  std::shared_ptr<tf2_ros::Buffer> tf_buffer_;
  std::shared_ptr<tf2_ros::TransformListener> tf_listener_;
  rclcpp::CallbackGroup::SharedPtr tf_callback_group_;
  std::shared_ptr<tf2_ros::StaticTransformBroadcaster> static_tf_broadcaster_;
  rclcpp::CallbackGroup::SharedPtr subscription_callback_group_;
  rclcpp::Subscription<sensor_msgs::msg::PointCloud2>::SharedPtr cloud_sub_;
  rclcpp::Subscription<livox_ros_driver2::msg::CustomMsg>::SharedPtr custom_cloud_sub_;

  // Per-camera publishers. Lifecycle publishers held through the plain publisher interface, so
  // that publication does not depend on the lifecycle state.
  std::vector<std::shared_ptr<SemanticPublisher>> semantic_obstacles_pubs_;
  std::vector<std::shared_ptr<CloudPublisher>> obstacles_pubs_;
  std::vector<std::shared_ptr<SemanticPublisher>> semantic_static_obstacles_pubs_;
  std::vector<std::shared_ptr<CloudPublisher>> static_obstacles_pubs_;
  std::vector<std::shared_ptr<SemanticPublisher>> semantic_dynamic_obstacles_pubs_;
  std::vector<std::shared_ptr<CloudPublisher>> dynamic_obstacles_pubs_;
  std::vector<std::shared_ptr<CloudPublisher>> base_cloud_pubs_;
  std::vector<std::shared_ptr<CloudPublisher>> elevated_cloud_pubs_;
  std::vector<std::shared_ptr<CloudPublisher>> ground_cloud_pubs_;
  std::vector<std::shared_ptr<rclcpp::Publisher<sensor_msgs::msg::CameraInfo>>>
      camera_info_raw_pubs_;
  std::vector<std::shared_ptr<PublisherSkipFrame<sensor_msgs::msg::CameraInfo>>> camera_info_pubs_;
  std::vector<std::shared_ptr<CloudPublisher>> frustum_cloud_pubs_;
  std::vector<std::shared_ptr<CloudPublisher>> split_cloud_pubs_;
  std::shared_ptr<rclcpp::Publisher<visualization_msgs::msg::MarkerArray>> bounding_boxes_pub_;
  std::vector<PublishedTopic> published_topics_;  // filled at configuration, then read-only

  // Common parameters.
  int32_t lidar_id_{};
  bool debug_{};
  bool pub_sem_info_{};
  bool pub_cloud_info_{};
  bool pub_virtual_camera_tf_{};
  float get_tf_duration_{};
  int32_t tf_buf_cache_time_{10};
  bool enable_roi_filter_{};
  float x_large_{};
  float y_large_{};
  float x_small_front_{};
  float x_small_back_{};
  float y_small_{};
  bool enable_dynamic_static_split_{};
  float dynamic_ratio_{};
  float static_ratio_{};
  int32_t topic_type_{};
  int32_t semantic_type_{2};
  bool semantic_flag_{false};
  bool enable_detector_thread_{false};
  float post_fusion_threshold_{0.7f};

  norvel::perception::GroundRemovalParams remove_ground_params_;
  norvel::perception::CloudClusterPara cluster_para_{0.1f, 3, 2};

  // Perception objects.
  std::string dynamic_cloud_detector_yaml_;
  std::vector<norvel::perception::CameraInfo> dynamic_cloud_detector_sensor_infos_;
  std::vector<std::shared_ptr<norvel::perception::DynamicCloudDetector>> dynamic_cloud_detectors_;
  std::shared_ptr<norvel::perception::CloudCluster> cloud_cluster_;
  std::shared_ptr<norvel::perception::RemoveGroundLineFit> ground_remover_;
  // The per-camera stages run on stage_lanes_; the remover and the clusterer keep scratch state,
  // so each lane has its own (lane 0, the pipeline's thread, uses the two above).
  std::shared_ptr<StageLanes> stage_lanes_;
  std::vector<std::shared_ptr<norvel::perception::RemoveGroundLineFit>> lane_ground_removers_;
  std::vector<std::shared_ptr<norvel::perception::CloudCluster>> lane_cloud_clusters_;
  // Reused from frame to frame: a scan's worth of fresh memory each frame costs page faults.
  CloudList region_parts_;

  Eigen::Matrix4f T_lidar2base_{Eigen::Matrix4f::Identity()};
  Eigen::Matrix4f T_base2map_{Eigen::Matrix4f::Identity()};

  // Run-time ground parameter hand-over: the callback writes remove_ground_params_ under the
  // mutex and raises the flag; the pipeline copies the values under the mutex at a frame start.
  std::mutex params_mutex_;
  std::atomic<bool> params_updated_{false};
  rclcpp::node_interfaces::OnSetParametersCallbackHandle::SharedPtr param_callback_handle_;
  norvel::perception::GroundRemovalParams frame_ground_params_;

  // Box detector and its thread. The detector is used only by the thread once it runs; the
  // thread reads debug_ and base_frame_id_, which are fixed after configuration.
  std::shared_ptr<trelvon::Trelvon> detector_;
  std::shared_ptr<norvel::utils::BlockingQueue<DetectorInput>> detector_input_queue_;
  std::shared_ptr<norvel::utils::BlockingQueue<DetectorOutput>> detector_output_queue_;
  std::shared_ptr<std::thread> detector_thread_;
  std::atomic<bool> detector_stop_{false};
  // Highest frame whose wait gave up: the thread skips inputs up to it, their frames are out.
  std::atomic<uint64_t> detector_abandoned_frame_{0};
  // Pipeline side only: number of the frame last handed over, frames in the current episode
  // without an output in time, and the bound of one wait.
  uint64_t detector_frame_sequence_{0};
  uint64_t detector_late_frames_{0};
  double detector_wait_timeout_{0.1};
  std::string point_dump_directory_;
  std::shared_ptr<PointDumpWriter> point_dump_;

  static constexpr int32_t kCameraInfoSkip = 9;
  static constexpr size_t kDetectorQueueCapacity = 10;
  std::atomic<bool> configured_{false};
  // Lives while the constructor configures the node (see ShutdownDeferral).
  std::shared_ptr<ShutdownDeferral> startup_deferral_;
  bool configure_attempted_{false};
  int lidar_msg_count_{0};
  int custom_msg_count_{0};
};

}  // namespace lidar_perception
