#include "3d_lidar_detect_node.hpp"

#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include <pcl/common/transforms.h>
#include <pcl_conversions/pcl_conversions.h>
#include <tf2/exceptions.h>
#include <tf2/time.h>
#include <tf2_ros/create_timer_ros.h>
#include <yaml-cpp/yaml.h>
#include <Eigen/Geometry>
#include <ament_index_cpp/get_package_share_directory.hpp>
#include <norvel/perception/moving_body_split.hpp>
#include <pcl_ros/transforms.hpp>

#include "cloud_intake.hpp"
#include "frame_filters.hpp"
#include "logger.hpp"
#include "post_fusion.hpp"
#include "publish_cloud.hpp"
#include "virtual_camera_geometry.hpp"
#include "wall_clock.hpp"

namespace lidar_perception {
namespace {

using Clock = WallClock;

float degreesToRadians(float degrees) {
  return static_cast<float>(static_cast<double>(degrees) * 3.141592653589793 / 180.0);
}

// Colours of the cluster clouds, indexed by cluster index modulo 20.
constexpr std::array<std::array<uint8_t, 3>, 20> kClusterPalette{
    {{255, 56, 56},  {255, 157, 151}, {255, 112, 31}, {255, 178, 29},  {207, 210, 49},
     {72, 249, 10},  {146, 204, 23},  {61, 219, 134}, {26, 147, 52},   {0, 212, 187},
     {44, 153, 168}, {0, 194, 255},   {52, 69, 147},  {100, 115, 255}, {0, 24, 236},
     {132, 56, 255}, {82, 0, 133},    {203, 56, 255}, {255, 149, 200}, {255, 55, 199}}};

// The ground-removal values, in the order they are read, logged and updated at run time.
struct GroundField {
  const char* name;
  float norvel::perception::GroundRemovalParams::*member;
  const char* log_format;
};

using norvel::perception::GroundRemovalParams;
const std::array<GroundField, 18> kGroundFields{{
    {"segmentation_angular_resolution", &GroundRemovalParams::segmentation_angular_resolution,
     "lidar_{0:d}_remove_ground_params_.segmentation_angular_resolution = {1:05.4f}"},
    {"point_cloud_max_range", &GroundRemovalParams::point_cloud_max_range,
     "lidar_{0:d}_remove_ground_params_.point_cloud_max_range = {1:05.4f}"},
    {"point_cloud_min_range", &GroundRemovalParams::point_cloud_min_range,
     "lidar_{0:d}_remove_ground_params_.point_cloud_min_range = {1:05.4f}"},
    {"segmentation_bin_len", &GroundRemovalParams::segmentation_bin_len,
     "lidar_{0:d}_remove_ground_params_.segmentation_bin_len = {1:05.4f}"},
    {"cam_height", &GroundRemovalParams::cam_height,
     "lidar_{0:d}_remove_ground_params_.cam_height = {1:05.4f}"},
    {"max_lsq_residual", &GroundRemovalParams::max_lsq_residual,
     "lidar_{0:d}_remove_ground_params_.max_lsq_residual = {1:05.4f}"},
    {"min_slope", &GroundRemovalParams::min_slope,
     "lidar_{0:d}_remove_ground_params_.min_slope  = {1:05.4f}"},
    {"max_slope", &GroundRemovalParams::max_slope,
     "lidar_{0:d}_remove_ground_params_.max_slope  = {1:05.4f}"},
    {"max_height_diff_for_start_up", &GroundRemovalParams::max_height_diff_for_start_up,
     "lidar_{0:d}_remove_ground_params_.max_height_diff_for_start_up  = {1:05.4f}"},
    {"max_height_diff_for_start_down", &GroundRemovalParams::max_height_diff_for_start_down,
     "lidar_{0:d}_remove_ground_params_.max_height_diff_for_start_down  = {1:05.4f}"},
    {"max_dist_point_groundline", &GroundRemovalParams::max_dist_point_groundline,
     "lidar_{0:d}_remove_ground_params_.max_dist_point_groundline  = {1:05.4f}"},
    {"long_threshold", &GroundRemovalParams::long_threshold,
     "lidar_{0:d}_remove_ground_params_.long_threshold  = {1:05.4f}"},
    {"max_height_diff_for_front", &GroundRemovalParams::max_height_diff_for_front,
     "lidar_{0:d}_remove_ground_params_.max_height_diff_for_front  = {1:05.4f}"},
    {"x_distance_need_preprocess", &GroundRemovalParams::x_distance_need_preprocess,
     "lidar_{0:d}_remove_ground_params_.x_distance_need_preprocess  = {1:05.4f}"},
    {"z_distance_need_remove", &GroundRemovalParams::z_distance_need_remove,
     "lidar_{0:d}_remove_ground_params_.z_distance_need_remove  = {1:05.4f}"},
    {"max_obstacle_height", &GroundRemovalParams::max_obstacle_height,
     "lidar_{0:d}_remove_ground_params_.max_obstacle_height  = {1:05.4f}"},
    {"diluting_threshold", &GroundRemovalParams::diluting_threshold,
     "lidar_{0:d}_remove_ground_params_.diluting_threshold  = {1:05.4f}"},
    {"noise_nsigma", &GroundRemovalParams::noise_nsigma, nullptr},
}};

// The point-cloud message of one obstacle: x, y, z only, in the frame and stamp of its message.
sensor_msgs::msg::PointCloud2 toObstacleCloud(const pcl::PointCloud<pcl::PointXYZ>& cluster,
                                              const std_msgs::msg::Header& header) {
  sensor_msgs::msg::PointCloud2 cloud;
  pcl::toROSMsg(cluster, cloud);
  cloud.header = header;
  cloud.fields.resize(3);
  const char* names[3] = {"x", "y", "z"};
  for (uint32_t i = 0; i < 3; ++i) {
    cloud.fields[i].name = names[i];
    cloud.fields[i].offset = 4 * i;
    cloud.fields[i].datatype = sensor_msgs::msg::PointField::FLOAT32;
    cloud.fields[i].count = 1;
  }
  cloud.point_step = 16;
  return cloud;
}

}  // namespace

LidarDetectNode::LidarDetectNode(const std::string& node_name)
    : rclcpp_lifecycle::LifecycleNode(
          node_name, rclcpp::NodeOptions().automatically_declare_parameters_from_overrides(true),
          true) {
  // Ctrl-C during configuration (typically while waiting for the first transform) stops the
  // wait, and the shutdown waits for the transition to end while the context is still valid.
  startup_deferral_ = std::make_shared<ShutdownDeferral>(get_node_base_interface()->get_context(),
                                                         std::chrono::seconds(5));
  configure();
  startup_deferral_.reset();
}

// The detector thread refers to the node, so it is stopped and joined before any member goes.
LidarDetectNode::~LidarDetectNode() {
  stopDetectorThread();
}

LidarDetectNode::CallbackReturn LidarDetectNode::on_configure(const rclcpp_lifecycle::State&) {
  // The per-camera lists are only ever appended to, so a second configuration (after a cleanup
  // or a failed first attempt) would leave them out of step with the cameras.
  if (configure_attempted_) {
    LOG_ERROR("configure refused: this node configures once per process; restart it instead");
    return CallbackReturn::FAILURE;
  }
  configure_attempted_ = true;

  LOG_INFO("start to initialize 3d_lidar_detect node");
  // Every configuration error ends here as one error line that says what was wrong; the
  // exception then fails the transition as before.
  try {
    getCommonParameters();
    getRemoveGroundPara();
    getPointCloudClusterPara();
    setUpTransforms();
    createLidarSubscription();
    param_callback_handle_ = add_on_set_parameters_callback(
        std::bind(&LidarDetectNode::dynamicParametersCallback, this, std::placeholders::_1));
    createPublishers();
    if (enable_detector_thread_) {
      try {
        startDetectorThread();
      } catch (const YAML::Exception& error) {
        // The parser's message names a line and column but not the file.
        throw std::runtime_error(fmt::format(
            "post_fusion.enable is true but the 3-D box detector's settings {} cannot be read: {}",
            ament_index_cpp::get_package_share_directory("corvanta_3d_lidar_detect") +
                "/config/default_params/trelvon.yaml",
            error.what()));
      }
    }
    if (!buildVirtualCameraGroup()) {
      // The user stopped the program before the transform came: an orderly end, not an error.
      LOG_INFO("configuration stopped: shutdown requested while waiting for the transform {} -> {}",
               base_frame_id_, lidar_frame_id_);
      return CallbackReturn::FAILURE;
    }
    createPerceptionObjects();
  } catch (const std::exception& error) {
    LOG_ERROR("configuration failed: {}", error.what());
    throw;
  }
  {
    std::lock_guard<std::mutex> lock(params_mutex_);
    frame_ground_params_ = remove_ground_params_;
  }
  configured_ = true;
  return CallbackReturn::SUCCESS;
}

template <typename T>
void LidarDetectNode::readParameter(const std::string& key, T& member, const T& default_value) {
  if (!has_parameter(key)) {
    member = default_value;
    return;
  }
  try {
    get_parameter(key, member);
  } catch (const rclcpp::exceptions::InvalidParameterTypeException& error) {
    throw std::invalid_argument(
        fmt::format("parameter {} has the wrong type: {}", key, error.what()));
  }
  if constexpr (std::is_floating_point_v<T>) {
    // A YAML .nan or .inf arrives as a double; no stage can work with it.
    if (!std::isfinite(member)) {
      throw std::invalid_argument(
          fmt::format("parameter {} = {} is not a finite number", key, member));
    }
  }
}

void LidarDetectNode::getCommonParameters() {
  LOG_INFO("start to get common parameters");
  readParameter<int32_t>("lidar_id", lidar_id_, 1);
  readParameter("debug", debug_, true);
  readParameter("pub_sem_info", pub_sem_info_, true);
  readParameter("pub_cloud_info", pub_cloud_info_, true);
  readParameter("pub_virtual_camera_tf", pub_virtual_camera_tf_, false);
  readParameter("get_tf_duration", get_tf_duration_, 0.02f);
  readParameter<int32_t>("tf_buf_cache_time", tf_buf_cache_time_, 10);
  readParameter("enable_roi_filter", enable_roi_filter_, true);
  readParameter("x_large", x_large_, 5.0f);
  readParameter("y_large", y_large_, 5.0f);
  readParameter("x_small_front", x_small_front_, 0.41f);
  readParameter("x_small_back", x_small_back_, -0.315f);
  readParameter("y_small", y_small_, 0.255f);
  readParameter("enable_dynamic_static_split", enable_dynamic_static_split_, true);
  readParameter("dynamic_ratio", dynamic_ratio_, 0.7f);
  readParameter("static_ratio", static_ratio_, 0.3f);
  readParameter<std::string>("map_frame_id", map_frame_id_, "map");
  readParameter<std::string>("base_frame_id", base_frame_id_, "base_footprint");
  readParameter<std::string>("lidar_frame_id", lidar_frame_id_, "3d_lidar_link");
  readParameter<std::string>("lidar_topic", lidar_topic_, "/cloud_registered_body");
  readParameter<int32_t>("topic_type", topic_type_, 0);
  // These two keep their constructor values when absent.
  readParameter("post_fusion.enable", enable_detector_thread_, bool{enable_detector_thread_});
  readParameter("post_fusion.threshold", post_fusion_threshold_, float{post_fusion_threshold_});

  LOG_INFO("lidar_id = {}", lidar_id_);
  LOG_INFO("debug = {}", debug_);
  LOG_INFO("pub_sem_info = {}", pub_sem_info_);
  LOG_INFO("pub_cloud_info = {}", pub_cloud_info_);
  LOG_INFO("pub_virtual_camera_tf = {}", pub_virtual_camera_tf_);
  LOG_INFO("get_tf_duration = {}", get_tf_duration_);
  LOG_INFO("tf_buf_cache_time = {}", tf_buf_cache_time_);
  LOG_INFO("enable_roi_filter = {}", enable_roi_filter_);
  LOG_INFO("x_large = {}", x_large_);
  LOG_INFO("y_large = {}", y_large_);
  LOG_INFO("x_small_front = {}", x_small_front_);
  LOG_INFO("x_small_back = {}", x_small_back_);
  LOG_INFO("y_small = {}", y_small_);
  LOG_INFO("enable_dynamic_static_split = {}", enable_dynamic_static_split_);
  LOG_INFO("map_frame_id = {}", map_frame_id_);
  LOG_INFO("base_frame_id = {}", base_frame_id_);
  LOG_INFO("lidar_frame_id = {}", lidar_frame_id_);
  LOG_INFO("lidar_topic = {}", lidar_topic_);
  LOG_INFO("topic_type = {}", topic_type_);
  LOG_INFO("dynamic_ratio = {}", dynamic_ratio_);
  LOG_INFO("static_ratio = {}", static_ratio_);
  LOG_INFO("enable_detector_thread = {}", enable_detector_thread_);
  LOG_INFO("post_fusion.threshold = {}", post_fusion_threshold_);

  readParameter<int32_t>("virtual_cameras_num", virtual_cameras_num_, 1);
  LOG_INFO("virtual_cameras_num = {}", virtual_cameras_num_);
  if (virtual_cameras_num_ < 0) {
    throw std::invalid_argument(
        fmt::format("virtual_cameras_num = {} must be 0 or more (the number of virtual cameras)",
                    virtual_cameras_num_));
  }
  if (virtual_cameras_num_ == 0) {
    // Allowed (the pipeline still runs and times its stages), but nothing per camera goes out.
    LOG_INFO("virtual_cameras_num = 0: no virtual camera, so no obstacle topic is published");
  }
  virtual_camera_configs_.reserve(static_cast<size_t>(virtual_cameras_num_));

  for (int32_t i = 0; i < virtual_cameras_num_; ++i) {
    auto config = std::make_shared<VirtualCameraConfig>();
    virtual_camera_configs_.push_back(config);
    VirtualCameraConfig& c = *config;
    const std::string p = "vir_cam_" + std::to_string(i) + ".";
    readParameter(p + "vertical_up_pos", c.vertical_up_pos, 52.0f);
    readParameter(p + "vertical_down_pos", c.vertical_down_pos, -7.0f);
    readParameter(p + "horizontal_start_pos", c.horizontal_start_pos, 0.0f);
    readParameter(p + "horizontal_end_pos", c.horizontal_end_pos, 90.0f);
    readParameter<std::string>(p + "frame_id", c.frame_id, "virtual_camera0_color_optical_frame");
    readParameter<int32_t>(p + "width", c.width, 1280);
    readParameter<int32_t>(p + "height", c.height, 800);
    readParameter<std::string>(p + "lidar_semantic_obstacles_topic",
                               c.lidar_semantic_obstacles_topic,
                               "/livox/virtual_camera0_semantic_obstacles");
    readParameter<std::string>(p + "lidar_obstacles_topic", c.lidar_obstacles_topic,
                               "/livox/virtual_camera0_obstacles");
    readParameter<std::string>(p + "lidar_semantic_static_obstacles_topic",
                               c.lidar_semantic_static_obstacles_topic,
                               "/livox/virtual_camera0_semantic_static_obstacles");
    readParameter<std::string>(p + "lidar_static_obstacles_topic", c.lidar_static_obstacles_topic,
                               "/livox/virtual_camera0_static_obstacles");
    readParameter<std::string>(p + "lidar_semantic_dynamic_obstacles_topic",
                               c.lidar_semantic_dynamic_obstacles_topic,
                               "/livox/virtual_camera0_semantic_dynamic_obstacles");
    readParameter<std::string>(p + "lidar_dynamic_obstacles_topic", c.lidar_dynamic_obstacles_topic,
                               "/livox/virtual_camera0_dynamic_obstacles");
    readParameter<std::string>(p + "lidar_base_pointcloud_topic", c.lidar_base_pointcloud_topic,
                               "/livox/virtual_camera0_base_pointcloud");
    readParameter<std::string>(p + "lidar_elevated_cloud_topic", c.lidar_elevated_cloud_topic,
                               "/livox/virtual_camera0_elevated_cloud");
    readParameter<std::string>(p + "lidar_ground_cloud_topic", c.lidar_ground_cloud_topic,
                               "/livox/virtual_camera0_ground_cloud");
    readParameter<std::string>(p + "virtual_camera_info_topic", c.virtual_camera_info_topic,
                               "virtual_camera_01_00_camera_info");
    readParameter<std::string>(p + "virtual_camera_frustum_topic", c.virtual_camera_frustum_topic,
                               "virtual_camera_01_00_frustum");
    readParameter<std::string>(p + "virtual_camera_pointcloud_topic",
                               c.virtual_camera_pointcloud_topic,
                               "virtual_camera_01_00_pointcloud");
    readParameter(p + "enable_ground_remove", c.enable_ground_remove, true);
    readParameter(p + "enable_cone_remove", c.enable_cone_remove, true);
    readParameter(p + "cone_theta_threshold", c.cone_theta_threshold, 60.0f);

    LOG_INFO("vir_cam_{}_vertical_up_pos = {}", i, c.vertical_up_pos);
    LOG_INFO("vir_cam_{}_vertical_down_pos = {}", i, c.vertical_down_pos);
    LOG_INFO("vir_cam_{}_horizontal_start_pos = {}", i, c.horizontal_start_pos);
    LOG_INFO("vir_cam_{}_horizontal_end_pos = {}", i, c.horizontal_end_pos);
    LOG_INFO("vir_cam_{}_frame_id = {}", i, c.frame_id);
    LOG_INFO("vir_cam_{}_width = {}", i, c.width);
    LOG_INFO("vir_cam_{}_height = {}", i, c.height);
    LOG_INFO("vir_cam_{}_lidar_semantic_obstacles_topic = {}", i, c.lidar_semantic_obstacles_topic);
    LOG_INFO("vir_cam_{}_lidar_obstacles_topic = {}", i, c.lidar_obstacles_topic);
    LOG_INFO("vir_cam_{}_lidar_semantic_static_obstacles_topic = {}", i,
             c.lidar_semantic_static_obstacles_topic);
    LOG_INFO("vir_cam_{}_lidar_static_obstacles_topic = {}", i, c.lidar_static_obstacles_topic);
    LOG_INFO("vir_cam_{}_lidar_semantic_dynamic_obstacles_topic = {}", i,
             c.lidar_semantic_dynamic_obstacles_topic);
    LOG_INFO("vir_cam_{}_lidar_dynamic_obstacles_topic = {}", i, c.lidar_dynamic_obstacles_topic);
    LOG_INFO("vir_cam_{}_lidar_base_pointcloud_topic = {}", i, c.lidar_base_pointcloud_topic);
    LOG_INFO("vir_cam_{}_lidar_elevated_cloud_topic = {}", i, c.lidar_elevated_cloud_topic);
    LOG_INFO("vir_cam_{}_lidar_ground_cloud_topic = {}", i, c.lidar_ground_cloud_topic);
    LOG_INFO("vir_cam_{}_virtual_camera_info_topic = {}", i, c.virtual_camera_info_topic);
    LOG_INFO("vir_cam_{}_virtual_camera_frustum_topic = {}", i, c.virtual_camera_frustum_topic);
    LOG_INFO("vir_cam_{}_virtual_camera_pointcloud_topic = {}", i,
             c.virtual_camera_pointcloud_topic);
    LOG_INFO("vir_cam_{}_enable_ground_remove = {}", i, c.enable_ground_remove);
    LOG_INFO("vir_cam_{}_enable_cone_remove = {}", i, c.enable_cone_remove);
    LOG_INFO("vir_cam_{}_cone_theta_threshold = {}", i, c.cone_theta_threshold);
  }

  validateCommonParameters();

  if (virtual_cameras_num_ >= 1) {
    for (const auto& config : virtual_camera_configs_) {
      config->vertical_up_pos = degreesToRadians(config->vertical_up_pos);
      config->vertical_down_pos = degreesToRadians(config->vertical_down_pos);
      config->horizontal_start_pos = degreesToRadians(config->horizontal_start_pos);
      config->horizontal_end_pos = degreesToRadians(config->horizontal_end_pos);
    }
  }
}

void LidarDetectNode::validateCommonParameters() const {
  // Each camera is a pinhole projection looking at the middle of its azimuth range, which runs
  // counter-clockwise from horizontal_start_pos to horizontal_end_pos. Its width must lie strictly
  // between 0 and 180 degrees: at 0 the focal length is infinite, from 180 on the projection
  // folds over and (at 360) no point lands in the image.
  for (size_t i = 0; i < virtual_camera_configs_.size(); ++i) {
    const VirtualCameraConfig& c = *virtual_camera_configs_[i];
    const std::string p = "vir_cam_" + std::to_string(i) + ".";
    const float span = c.horizontal_end_pos - c.horizontal_start_pos;
    if (span < 0.0f) {
      throw std::invalid_argument(fmt::format(
          "{0}horizontal_end_pos = {1} is below {0}horizontal_start_pos = {2}: the range is "
          "inverted (it runs counter-clockwise from start to end; to cover the view through 180 "
          "degrees, give an end above 180)",
          p, c.horizontal_end_pos, c.horizontal_start_pos));
    }
    if (span == 0.0f) {
      throw std::invalid_argument(fmt::format(
          "{0}horizontal_start_pos and {0}horizontal_end_pos are both {1}: the camera's "
          "horizontal field of view is empty",
          p, c.horizontal_start_pos));
    }
    if (span >= 180.0f) {
      throw std::invalid_argument(fmt::format(
          "{0}horizontal_start_pos = {1} .. {0}horizontal_end_pos = {2} spans {3} degrees; a "
          "virtual camera sees less than 180 degrees (its projection folds over from 180 on, and "
          "at "
          "360 no point reaches it): "
          "cover a wider view with more cameras (virtual_cameras_num)",
          p, c.horizontal_start_pos, c.horizontal_end_pos, span));
    }
  }
  // The region filter keeps |x| <= x_large, |y| <= y_large outside the robot's body.
  if (enable_roi_filter_) {
    if (!(x_large_ > 0.0f)) {
      throw std::invalid_argument(
          fmt::format("x_large = {} must be > 0: the region of interest would be empty", x_large_));
    }
    if (!(y_large_ > 0.0f)) {
      throw std::invalid_argument(
          fmt::format("y_large = {} must be > 0: the region of interest would be empty", y_large_));
    }
    if (x_small_front_ < x_small_back_) {
      throw std::invalid_argument(
          fmt::format("x_small_front = {} is below x_small_back = {}: the robot's body box is "
                      "inverted (front must be the larger x)",
                      x_small_front_, x_small_back_));
    }
  }
}

void LidarDetectNode::getRemoveGroundPara() {
  LOG_INFO("start to get remove ground parameters");
  const std::string prefix = "lidar_" + std::to_string(lidar_id_) + ".";
  const GroundRemovalParams defaults{};
  // noise_nsigma, the last field, is settable only at run time.
  for (size_t i = 0; i + 1 < kGroundFields.size(); ++i) {
    const GroundField& field = kGroundFields[i];
    readParameter(prefix + field.name, remove_ground_params_.*field.member, defaults.*field.member);
  }
  for (size_t i = 0; i + 1 < kGroundFields.size(); ++i) {
    const GroundField& field = kGroundFields[i];
    LOG_INFO(fmt::runtime(field.log_format), lidar_id_, remove_ground_params_.*field.member);
  }
}

void LidarDetectNode::getPointCloudClusterPara() {
  LOG_INFO("start to get point cloud cluster parameters");
  readParameter("cluster_grid_step", cluster_para_.cluster_grid_step, 0.15f);
  readParameter<int>("cluster_grid_kernelSize", cluster_para_.cluster_grid_kernelSize, 3);
  readParameter<int>("cluster_grid_th", cluster_para_.cluster_grid_th, 3);
  LOG_INFO("lidar_{0:d}_grid_step = {1:05.4f}", lidar_id_, cluster_para_.cluster_grid_step);
  LOG_INFO("lidar_{0:d}_grid_kernelSize = {1:d}", lidar_id_, cluster_para_.cluster_grid_kernelSize);
  LOG_INFO("lidar_{0:d}_grid_th = {1:d}", lidar_id_, cluster_para_.cluster_grid_th);
}

void LidarDetectNode::setUpTransforms() {
  tf_callback_group_ = create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, true);
  tf_buffer_ = std::make_shared<tf2_ros::Buffer>(
      get_clock(), tf2::durationFromSec(static_cast<double>(tf_buf_cache_time_)));
  auto timer_interface = std::make_shared<tf2_ros::CreateTimerROS>(
      get_node_base_interface(), get_node_timers_interface(), tf_callback_group_);
  tf_buffer_->setCreateTimerInterface(timer_interface);
  // Its own spin thread: the virtual camera group waits for a transform before the node spins.
  tf_listener_ = std::make_shared<tf2_ros::TransformListener>(*tf_buffer_, this, true);
  static_tf_broadcaster_ = std::make_shared<tf2_ros::StaticTransformBroadcaster>(this);
}

void LidarDetectNode::createLidarSubscription() {
  subscription_callback_group_ =
      create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, true);
  rclcpp::SubscriptionOptions options;
  options.callback_group = subscription_callback_group_;
  if (topic_type_ != 0) {
    custom_cloud_sub_ = create_subscription<livox_ros_driver2::msg::CustomMsg>(
        lidar_topic_, rclcpp::QoS(1),
        std::bind(&LidarDetectNode::lidarCustomMsgCallback, this, std::placeholders::_1), options);
  } else {
    cloud_sub_ = create_subscription<sensor_msgs::msg::PointCloud2>(
        lidar_topic_, rclcpp::QoS(1),
        std::bind(&LidarDetectNode::lidarMsgCallback, this, std::placeholders::_1), options);
  }
}

void LidarDetectNode::createPublishers() {
  using corvanta_protocol::msg::SemanticPointCloud;
  using sensor_msgs::msg::CameraInfo;
  using sensor_msgs::msg::PointCloud2;
  for (int32_t i = 0; i < virtual_cameras_num_; ++i) {
    const VirtualCameraConfig& c = *virtual_camera_configs_.at(static_cast<size_t>(i));
    if (enable_dynamic_static_split_) {
      semantic_static_obstacles_pubs_.push_back(
          create_publisher<SemanticPointCloud>(c.lidar_semantic_static_obstacles_topic, 1));
      semantic_dynamic_obstacles_pubs_.push_back(
          create_publisher<SemanticPointCloud>(c.lidar_semantic_dynamic_obstacles_topic, 1));
      static_obstacles_pubs_.push_back(
          create_publisher<PointCloud2>(c.lidar_static_obstacles_topic, rclcpp::SensorDataQoS()));
      dynamic_obstacles_pubs_.push_back(
          create_publisher<PointCloud2>(c.lidar_dynamic_obstacles_topic, rclcpp::SensorDataQoS()));
    } else {
      semantic_obstacles_pubs_.push_back(
          create_publisher<SemanticPointCloud>(c.lidar_semantic_obstacles_topic, 1));
      obstacles_pubs_.push_back(
          create_publisher<PointCloud2>(c.lidar_obstacles_topic, rclcpp::SensorDataQoS()));
    }
    if (debug_) {
      base_cloud_pubs_.push_back(
          create_publisher<PointCloud2>(c.lidar_base_pointcloud_topic, rclcpp::SensorDataQoS()));
      elevated_cloud_pubs_.push_back(
          create_publisher<PointCloud2>(c.lidar_elevated_cloud_topic, rclcpp::SensorDataQoS()));
      ground_cloud_pubs_.push_back(
          create_publisher<PointCloud2>(c.lidar_ground_cloud_topic, rclcpp::SensorDataQoS()));
      frustum_cloud_pubs_.push_back(
          create_publisher<PointCloud2>(c.virtual_camera_frustum_topic, rclcpp::SensorDataQoS()));
      split_cloud_pubs_.push_back(create_publisher<PointCloud2>(c.virtual_camera_pointcloud_topic,
                                                                rclcpp::SensorDataQoS()));
    }
    auto camera_info_pub = create_publisher<CameraInfo>(c.virtual_camera_info_topic, 1);
    camera_info_raw_pubs_.push_back(camera_info_pub);
    camera_info_pubs_.push_back(
        std::make_shared<PublisherSkipFrame<CameraInfo>>(camera_info_pub, kCameraInfoSkip));
  }

  auto note = [this](const auto& publishers, const char* type, const char* parameter) {
    for (size_t i = 0; i < publishers.size(); ++i) {
      published_topics_.push_back(
          {publishers[i]->get_topic_name(), type, parameter, static_cast<int>(i)});
    }
  };
  const char* semantic = "corvanta_protocol/msg/SemanticPointCloud";
  const char* cloud = "sensor_msgs/msg/PointCloud2";
  note(semantic_obstacles_pubs_, semantic, "lidar_semantic_obstacles_topic");
  note(obstacles_pubs_, cloud, "lidar_obstacles_topic");
  note(semantic_static_obstacles_pubs_, semantic, "lidar_semantic_static_obstacles_topic");
  note(static_obstacles_pubs_, cloud, "lidar_static_obstacles_topic");
  note(semantic_dynamic_obstacles_pubs_, semantic, "lidar_semantic_dynamic_obstacles_topic");
  note(dynamic_obstacles_pubs_, cloud, "lidar_dynamic_obstacles_topic");
  note(base_cloud_pubs_, cloud, "lidar_base_pointcloud_topic");
  note(elevated_cloud_pubs_, cloud, "lidar_elevated_cloud_topic");
  note(ground_cloud_pubs_, cloud, "lidar_ground_cloud_topic");
  note(frustum_cloud_pubs_, cloud, "virtual_camera_frustum_topic");
  note(split_cloud_pubs_, cloud, "virtual_camera_pointcloud_topic");
  note(camera_info_raw_pubs_, "sensor_msgs/msg/CameraInfo", "virtual_camera_info_topic");
  if (pub_virtual_camera_tf_) {
    published_topics_.push_back({"/tf_static", "tf2_msgs/msg/TFMessage", "", -1});
  }
}

bool LidarDetectNode::getTransformMatrix(const std::string& target, const std::string& source,
                                         const rclcpp::Time& stamp, Eigen::Matrix4f& matrix) {
  try {
    const geometry_msgs::msg::TransformStamped transform = tf_buffer_->lookupTransform(
        target, source, tf2::TimePoint(std::chrono::nanoseconds(stamp.nanoseconds())),
        tf2::durationFromSec(static_cast<double>(get_tf_duration_)));
    pcl_ros::transformAsMatrix(transform, matrix);
    return true;
  } catch (const tf2::TransformException& ex) {
    LOG_ERROR("Transform {} to {} error of sensor data:{}, quitting callback", source, target,
              ex.what());
    return false;
  }
}

bool LidarDetectNode::buildVirtualCameraGroup() {
  LOG_INFO("begin to build virtual camera group");
  const auto stopping = [this] {
    return !rclcpp::ok() || (startup_deferral_ != nullptr && startup_deferral_->stopRequested());
  };
  while (!getTransformMatrix(base_frame_id_, lidar_frame_id_, get_clock()->now(), T_lidar2base_)) {
    if (stopping()) {
      return false;
    }
    // Waiting is the design (the transform may come late); this says what is awaited and how to
    // stop, once per attempt.
    LOG_ERROR(
        "waiting for the transform {} -> {} (base_frame_id -> lidar_frame_id): configuration "
        "goes on once it is published; retrying every second, Ctrl-C stops",
        base_frame_id_, lidar_frame_id_);
    // Short steps, so that Ctrl-C during the wait ends the program at once.
    const auto retry_at = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!stopping() && std::chrono::steady_clock::now() < retry_at) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (stopping()) {
      return false;  // no further lookup (and its error line) once the user stopped the program
    }
  }
  const Eigen::Matrix4f lidar2base = T_lidar2base_;

  for (const auto& config_ptr : virtual_camera_configs_) {
    const VirtualCameraConfig& c = *config_ptr;
    const VirtualCameraGeometry g = makeVirtualCameraGeometry(c, lidar2base);
    Tvirtual_cams2lidar_.push_back(g.cam2lidar);
    Tlidar2virtual_cams_.push_back(g.lidar2cam);
    Tvirtual_cams2base_.push_back(g.cam2base);
    Tbase2virtual_cams_.push_back(g.base2cam);

    geometry_msgs::msg::TransformStamped tf;
    tf.header.stamp = get_clock()->now();
    tf.header.frame_id = base_frame_id_;
    tf.child_frame_id = c.frame_id;
    tf.transform.translation.x = g.cam2base(0, 3);
    tf.transform.translation.y = g.cam2base(1, 3);
    tf.transform.translation.z = g.cam2base(2, 3);
    tf.transform.rotation.x = g.cam2base_rotation.x();
    tf.transform.rotation.y = g.cam2base_rotation.y();
    tf.transform.rotation.z = g.cam2base_rotation.z();
    tf.transform.rotation.w = g.cam2base_rotation.w();
    virtual_cameras_tf_.push_back(tf);
    if (pub_virtual_camera_tf_) {
      static_tf_broadcaster_->sendTransform(tf);
    }

    const VirtualCameraParam& param = g.param;
    LOG_INFO("h_fov_radian: {}, v_fov_radian: {}", param.h_fov, param.v_fov);
    virtual_cameras_param_.push_back(param);
    LOG_INFO(
        "virtual_camera_param.fx: {}, virtual_camera_param.fy: {}, virtual_camera_param.cx: {}, "
        "virtual_camera_param.cy: {}, virtual_camera_param.width: {}, virtual_camera_param.height: "
        "{}, virtual_camera_param.h_fov: {}, virtual_camera_param.v_fov: {}",
        param.fx, param.fy, param.cx, param.cy, param.width, param.height, param.h_fov,
        param.v_fov);

    sensor_msgs::msg::CameraInfo info = g.info;
    info.header.stamp = get_clock()->now();
    virtual_cameras_info_.push_back(info);

    auto frustum = std::make_shared<PointCloud>(g.frustum);
    virtual_cameras_frustum_cloud_.push_back(frustum);
    if (debug_) {
      const size_t index = virtual_cameras_frustum_cloud_.size() - 1;
      publishCloud(*frustum, get_clock()->now(), frustum_cloud_pubs_.at(index), c.frame_id);
    }
  }
  LOG_INFO("Tvirtual_cams2lidar_.size(): {} ", Tvirtual_cams2lidar_.size());
  LOG_INFO("Tvirtual_cams2base_.size(): {}", Tvirtual_cams2base_.size());
  LOG_INFO("virtual_cameras_param_.size(): {}", virtual_cameras_param_.size());
  LOG_INFO("virtual_cameras_frustum_cloud_.size(): {}", virtual_cameras_frustum_cloud_.size());
  return true;
}

void LidarDetectNode::createPerceptionObjects() {
  for (size_t n = 0; n < virtual_camera_configs_.size(); ++n) {
    const VirtualCameraParam& param = virtual_cameras_param_.at(n);
    norvel::perception::CameraInfo info;
    info.width = param.width;
    info.height = param.height;
    info.intrinsics << static_cast<float>(param.fx), 0.0f, static_cast<float>(param.cx), 0.0f,
        static_cast<float>(param.fy), static_cast<float>(param.cy), 0.0f, 0.0f, 1.0f;
    info.camera_to_base = Tvirtual_cams2base_.at(n);
    info.camera_index = static_cast<int32_t>(n);
    dynamic_cloud_detector_sensor_infos_.push_back(info);
  }
  LOG_INFO("dynamic_cloud_detector_sensor_infos_.size(): {}",
           dynamic_cloud_detector_sensor_infos_.size());
  ground_remover_ =
      std::make_shared<norvel::perception::RemoveGroundLineFit>(remove_ground_params_);
  cloud_cluster_ = std::make_shared<norvel::perception::CloudCluster>(cluster_para_);
  stage_lanes_ = std::make_shared<StageLanes>(StageLanes::helpersFor(cameraCount()));
  lane_ground_removers_ = {ground_remover_};
  lane_cloud_clusters_ = {cloud_cluster_};
  for (size_t lane = 1; lane < stage_lanes_->lanes(); ++lane) {
    lane_ground_removers_.push_back(
        std::make_shared<norvel::perception::RemoveGroundLineFit>(remove_ground_params_));
    lane_cloud_clusters_.push_back(
        std::make_shared<norvel::perception::CloudCluster>(cluster_para_));
  }
  LOG_INFO("per-camera stages run on {} threads", stage_lanes_->lanes());
  dynamic_cloud_detector_yaml_ =
      ament_index_cpp::get_package_share_directory("corvanta_3d_lidar_detect") +
      "/config/default_params/dynamic_cloud_detector.yaml";
  LOG_INFO("dynamic_cloud_detector_yaml = {}", dynamic_cloud_detector_yaml_);
  for (size_t n = 0; n < virtual_camera_configs_.size(); ++n) {
    // The motion detector judges emptiness only where the node keeps points: its region of
    // interest and the view left by the up-cone cut come from here, not from a second file.
    norvel::perception::DynamicCloudDetectorConfig::NodeLimits limits;
    if (enable_roi_filter_) {
      limits.roi_x_max = x_large_;
      limits.roi_y_max = y_large_;
      limits.roi_z_max = remove_ground_params_.max_obstacle_height;
    } else {
      limits.roi_x_max = limits.roi_y_max = limits.roi_z_max = std::numeric_limits<float>::max();
    }
    const VirtualCameraConfig& camera = *virtual_camera_configs_.at(n);
    if (camera.enable_cone_remove) {
      limits.sensor_max_elevation_deg = 90.0f - camera.cone_theta_threshold;
    }
    LOG_INFO(
        "dynamic cloud detector {}: region |x| <= {}, |y| <= {}, z <= {}; upper view edge {} deg",
        n, limits.roi_x_max, limits.roi_y_max, limits.roi_z_max,
        limits.sensor_max_elevation_deg.has_value()
            ? fmt::format("{}", *limits.sensor_max_elevation_deg)
            : std::string("from ") + dynamic_cloud_detector_yaml_);
    auto detector = std::make_shared<norvel::perception::DynamicCloudDetector>(
        dynamic_cloud_detector_yaml_, limits);
    detector->Init(dynamic_cloud_detector_sensor_infos_.at(n));
    dynamic_cloud_detectors_.push_back(detector);
  }
  // A walker who just crossed into a camera's view, or a place the robot turned towards, lies
  // outside that camera's earlier frames but inside its neighbours'.
  for (const auto& detector : dynamic_cloud_detectors_) {
    detector->ShareHistoryWith(dynamic_cloud_detectors_);
  }
}

void LidarDetectNode::lidarMsgCallback(const sensor_msgs::msg::PointCloud2::ConstSharedPtr msg) {
  if (lidar_msg_count_ == 0) {
    LOG_INFO("Begin to process lidar msg!");
  }
  ++lidar_msg_count_;
  LOG_DEBUG("processLidarMsg: num_pro: {}", lidar_msg_count_);
  const auto start = Clock::now();

  auto cloud = std::make_shared<PointCloud>();
  const std::string malformed = convertLidarCloud(*msg, *cloud);
  if (!malformed.empty()) {
    LOG_ERROR("dropping PointCloud2 on {} (frame '{}', stamp {}.{:09d}): {}", lidar_topic_,
              msg->header.frame_id, msg->header.stamp.sec, msg->header.stamp.nanosec, malformed);
    return;
  }
  LOG_INFO("convert pcl pointcloud time: {} ms.", elapsedMs(start));

  if (!cloud->empty()) {
    if (!configured_) {
      LOG_ERROR("dropping lidar frame: the node's configuration did not complete");
      return;
    }
    processOneFrame(cloud, rclcpp::Time(msg->header.stamp, RCL_ROS_TIME));
  }
}

void LidarDetectNode::lidarCustomMsgCallback(
    const livox_ros_driver2::msg::CustomMsg::ConstSharedPtr msg) {
  if (custom_msg_count_ == 0) {
    LOG_INFO("Begin to process lidar msg!");
  }
  ++custom_msg_count_;
  LOG_DEBUG("processLidarMsg: num_pro: {}", custom_msg_count_);
  const auto start = Clock::now();

  auto cloud = std::make_shared<PointCloud>();
  cloud->reserve(msg->points.size());
  for (const auto& point : msg->points) {
    cloud->push_back(pcl::PointXYZ(point.x, point.y, point.z));
  }
  cloud->width = static_cast<uint32_t>(cloud->size());
  cloud->height = 1;
  cloud->is_dense = true;
  LOG_INFO("convert pcl pointcloud time: {} ms.", elapsedMs(start));

  if (cloud->empty()) {
    return;
  }
  const int64_t last_ns = static_cast<int64_t>(msg->header.stamp.sec) * 1000000000LL +
                          static_cast<int64_t>(msg->header.stamp.nanosec) +
                          static_cast<int64_t>(msg->points.back().offset_time);
  builtin_interfaces::msg::Time stamp;
  stamp.sec = static_cast<int32_t>(last_ns / 1000000000LL);
  stamp.nanosec = static_cast<uint32_t>(last_ns - static_cast<int64_t>(stamp.sec) * 1000000000LL);
  LOG_INFO(
      "in_time_stamp: {} sec, {} nanosec; last_point_stamp: {} sec, {} nanosec; "
      "point_back_offset: {}",
      msg->header.stamp.sec, msg->header.stamp.nanosec, stamp.sec, stamp.nanosec,
      msg->points.back().offset_time);
  if (!configured_) {
    LOG_ERROR("dropping lidar frame: the node's configuration did not complete");
    return;
  }
  processOneFrame(cloud, rclcpp::Time(stamp, RCL_ROS_TIME));
}

void LidarDetectNode::consumeParameterUpdate() {
  if (!params_updated_) {
    return;
  }
  LOG_INFO("LidarDetectNode::processOneFrame update params");
  {
    std::lock_guard<std::mutex> lock(params_mutex_);
    frame_ground_params_ = remove_ground_params_;
    params_updated_ = false;
  }
  // The remover keeps its own copy; hand it the new values so that they take effect. Values it
  // rejects leave it on the previous ones.
  try {
    for (const auto& remover : lane_ground_removers_) {
      remover->setParams(frame_ground_params_);
    }
  } catch (const std::exception& error) {
    LOG_ERROR("ground removal keeps its previous parameters: {}", error.what());
  }
}

void LidarDetectNode::processOneFrame(const PointCloudPtr& cloud, const rclcpp::Time& stamp) {
  consumeParameterUpdate();
  current_stamp_ = stamp;
  auto timer = Clock::now();
  publishCameraInfo(stamp);
  LOG_INFO("pub camera info time: {} ms.", elapsedMs(timer));

  if (debug_) {
    timer = Clock::now();
    for (int32_t n = 0; n < virtual_cameras_num_; ++n) {
      const auto i = static_cast<size_t>(n);
      publishCloud(*virtual_cameras_frustum_cloud_.at(i), stamp, frustum_cloud_pubs_.at(i),
                   virtual_camera_configs_.at(i)->frame_id);
    }
    LOG_INFO("pub virtual cameras frustum cloud time: {} ms.", elapsedMs(timer));
  }

  timer = Clock::now();
  const CloudList& region_parts = cloudInRegion(*cloud);
  LOG_INFO("convert base cloud time: {} ms.", elapsedMs(timer));

  if (debug_ && !base_cloud_pubs_.empty()) {
    timer = Clock::now();
    PointCloud base_cloud;
    transformCloud(*cloud, T_lidar2base_, base_cloud);
    publishCloud(base_cloud, stamp, base_cloud_pubs_.front(), base_frame_id_);
    LOG_INFO("pub base cloud time: {} ms.", elapsedMs(timer));
  }

  timer = Clock::now();
  const CloudList split_clouds = splitIntoVirtualCameras(region_parts);
  LOG_INFO("lidar pointcloud split time: {} ms.", elapsedMs(timer));

  if (debug_) {
    timer = Clock::now();
    for (int32_t n = 0; n < virtual_cameras_num_; ++n) {
      const auto i = static_cast<size_t>(n);
      PointCloud camera_cloud;
      pcl::transformPointCloud(*split_clouds.at(i), camera_cloud, Tbase2virtual_cams_.at(i));
      publishCloud(camera_cloud, stamp, split_cloud_pubs_.at(i),
                   virtual_camera_configs_.at(i)->frame_id);
    }
    LOG_INFO("pub split lidar pointcloud time: {} ms.", elapsedMs(timer));
  }

  updateCameraFrame(split_clouds);
  CloudList cone_filtered_clouds;
  coneRemove(split_clouds, cone_filtered_clouds);
  CloudList obstacle_clouds;
  CloudList ground_clouds;
  doGroundRemove(cone_filtered_clouds, obstacle_clouds, ground_clouds);
  if (enable_detector_thread_) {
    handOverToDetector(obstacle_clouds);
  }
  std::vector<CloudList> cluster_lists;
  doCluster(obstacle_clouds, cluster_lists);
  std::vector<CloudList> dynamic_lists;
  std::vector<CloudList> static_lists;
  doDynamicStaticSplit(obstacle_clouds, ground_clouds, cluster_lists, dynamic_lists, static_lists);
  waitDetectorOutput(dynamic_lists, static_lists);

  // Each camera's messages are built and sent by its own job: publishers are thread-safe, and
  // building the messages copies every obstacle point.
  stage_lanes_->run(cameraCount(), [&](size_t i, size_t /*lane*/) {
    const auto camera = static_cast<uint32_t>(i);
    if (enable_dynamic_static_split_) {
      publishSemanticPointCloud(dynamic_lists.at(i), stamp, semantic_dynamic_obstacles_pubs_.at(i),
                                dynamic_obstacles_pubs_.at(i), pub_sem_info_, pub_cloud_info_,
                                camera);
      publishSemanticPointCloud(static_lists.at(i), stamp, semantic_static_obstacles_pubs_.at(i),
                                static_obstacles_pubs_.at(i), pub_sem_info_, pub_cloud_info_,
                                camera);
    } else {
      // Without the split every cluster goes out on the camera's single obstacle topics.
      publishSemanticPointCloud(cluster_lists.at(i), stamp, semantic_obstacles_pubs_.at(i),
                                obstacles_pubs_.at(i), pub_sem_info_, pub_cloud_info_, camera);
    }
  });
}

void LidarDetectNode::publishCameraInfo(const rclcpp::Time& stamp) {
  for (int32_t n = 0; n < virtual_cameras_num_; ++n) {
    const auto i = static_cast<size_t>(n);
    sensor_msgs::msg::CameraInfo& info = virtual_cameras_info_.at(i);
    info.header.stamp = stamp;
    camera_info_pubs_.at(i)->publish(info);
    LOG_INFO("publishVirtualCameraInfo success!");
    static_tf_broadcaster_->sendTransform(virtual_cameras_tf_.at(i));
  }
}

const LidarDetectNode::CloudList& LidarDetectNode::cloudInRegion(const PointCloud& cloud) {
  const size_t parts = enable_roi_filter_ ? stage_lanes_->lanes() : 1;
  region_parts_.resize(parts);
  for (PointCloudPtr& part : region_parts_) {
    if (part == nullptr) {
      part = std::make_shared<PointCloud>();
    }
  }
  if (!enable_roi_filter_) {
    transformCloud(cloud, T_lidar2base_, *region_parts_.front());
    return region_parts_;
  }
  const RegionOfInterest roi{
      x_large_,       y_large_,      frame_ground_params_.max_obstacle_height,
      x_small_front_, x_small_back_, y_small_};
  const size_t per_part = (cloud.size() + parts - 1) / parts;
  stage_lanes_->run(parts, [&](size_t i, size_t /*lane*/) {
    PointCloud& part = *region_parts_[i];
    part.clear();
    part.header = cloud.header;
    appendTransformedPointsInRegionOfInterest(cloud, i * per_part, (i + 1) * per_part,
                                              T_lidar2base_, roi, part);
  });
  return region_parts_;
}

LidarDetectNode::CloudList LidarDetectNode::splitIntoVirtualCameras(
    const CloudList& region_parts) const {
  CloudList split_clouds;
  split_clouds.reserve(static_cast<size_t>(std::max(virtual_cameras_num_, 0)));
  for (int32_t n = 0; n < virtual_cameras_num_; ++n) {
    split_clouds.push_back(std::make_shared<PointCloud>());
  }
  size_t region_points = 0;
  for (const PointCloudPtr& part : region_parts) {
    region_points += part->size();
  }
  stage_lanes_->run(split_clouds.size(), [&](size_t i, size_t /*lane*/) {
    PointCloud& camera_cloud = *split_clouds[i];
    camera_cloud.reserve(region_points);
    for (const PointCloudPtr& part : region_parts) {
      appendPointsInCamera(*part, Tbase2virtual_cams_.at(i), virtual_cameras_param_.at(i),
                           camera_cloud);
    }
    camera_cloud.width = static_cast<uint32_t>(camera_cloud.size());
    camera_cloud.height = 1;
  });
  return split_clouds;
}

void LidarDetectNode::updateCameraFrame(const CloudList& split_clouds) {
  const auto start = Clock::now();
  stage_lanes_->run(cameraCount(), [&](size_t i, size_t /*lane*/) {
    const int n = static_cast<int>(i);
    std::shared_ptr<CameraFrame> frame = CameraFrameInstance::get(n);
    if (frame == nullptr && CameraFrameInstance::load(n, T_lidar2base_)) {
      frame = CameraFrameInstance::get(n);
    }
    if (frame != nullptr) {
      frame->calculate(*split_clouds.at(i));
    }
  });
  LOG_INFO("calculate base cloud shape time: {} ms.", elapsedMs(start));
}

void LidarDetectNode::coneRemove(const CloudList& split_clouds, CloudList& cone_filtered_clouds) {
  const auto start = Clock::now();
  cone_filtered_clouds.resize(cone_filtered_clouds.size() + cameraCount());
  const size_t first = cone_filtered_clouds.size() - cameraCount();
  stage_lanes_->run(cameraCount(), [&](size_t i, size_t /*lane*/) {
    const VirtualCameraConfig& config = *virtual_camera_configs_.at(i);
    const PointCloudPtr& input = split_clouds.at(i);
    if (!config.enable_cone_remove) {
      cone_filtered_clouds[first + i] = input;
      return;
    }
    auto output = std::make_shared<PointCloud>();
    output->reserve(input->size());
    appendPointsOutsideUpCone(*input, T_lidar2base_, config.cone_theta_threshold, *output);
    output->width = static_cast<uint32_t>(output->size());
    output->height = 1;
    cone_filtered_clouds[first + i] = output;
  });
  LOG_INFO("remove cone time: {} ms.", elapsedMs(start));
}

void LidarDetectNode::doGroundRemove(const CloudList& cone_filtered_clouds,
                                     CloudList& obstacle_clouds, CloudList& ground_clouds) {
  const auto start = Clock::now();
  const size_t cameras = cameraCount();
  CloudList obstacles(cameras);
  CloudList grounds(cameras);
  stage_lanes_->run(cameras, [&](size_t i, size_t lane) {
    const PointCloudPtr& input = cone_filtered_clouds.at(i);
    grounds[i] = std::make_shared<PointCloud>();
    if (virtual_camera_configs_.at(i)->enable_ground_remove) {
      obstacles[i] = std::make_shared<PointCloud>();
      lane_ground_removers_.at(lane)->removeGround(input, obstacles[i], grounds[i]);
    } else {
      obstacles[i] = input;
    }
  });
  for (size_t i = 0; i < cameras; ++i) {
    obstacle_clouds.push_back(obstacles[i]);
    ground_clouds.push_back(grounds[i]);
    if (debug_) {
      publishCloud(*grounds[i], current_stamp_, ground_cloud_pubs_.at(i), base_frame_id_);
      publishCloud(*obstacles[i], current_stamp_, elevated_cloud_pubs_.at(i), base_frame_id_);
    }
  }
  LOG_INFO("remove ground time: {} ms.", elapsedMs(start));
}

void LidarDetectNode::doCluster(const CloudList& obstacle_clouds,
                                std::vector<CloudList>& cluster_lists) {
  const auto start = Clock::now();
  const size_t cameras = cameraCount();
  std::vector<CloudList> clusters(cameras);
  std::vector<int> counts(cameras, 0);
  stage_lanes_->run(cameras, [&](size_t i, size_t lane) {
    lane_cloud_clusters_.at(lane)->obstacleCluster(obstacle_clouds.at(i), counts[i], clusters[i]);
  });
  for (size_t i = 0; i < cameras; ++i) {
    LOG_INFO("cam{} obstacleCluster: numCluster = {}, point_num = {}", i, counts[i],
             obstacle_clouds.at(i)->size());
    cluster_lists.push_back(std::move(clusters[i]));
  }
  LOG_INFO("cluster time: {}ms.", elapsedMs(start));
}

void LidarDetectNode::doDynamicStaticSplit(const CloudList& obstacle_clouds,
                                           const CloudList& ground_clouds,
                                           const std::vector<CloudList>& cluster_lists,
                                           std::vector<CloudList>& dynamic_lists,
                                           std::vector<CloudList>& static_lists) {
  if (!enable_dynamic_static_split_) {
    return;
  }
  auto timer = Clock::now();
  const bool pose_found =
      getTransformMatrix(map_frame_id_, base_frame_id_, current_stamp_, T_base2map_);
  LOG_INFO("get tf map time: {}ms.", elapsedMs(timer));

  timer = Clock::now();
  if (!pose_found) {
    LOG_ERROR("getTransformMatrix: {} -> {} is failed!", base_frame_id_, map_frame_id_);
  }
  // Each camera's detector is updated by the one job of its camera only. The detectors read each
  // other's history while they divide the clusters, so every camera is updated first.
  const size_t cameras = cameraCount();
  const size_t first = dynamic_lists.size();
  dynamic_lists.resize(first + cameras);
  static_lists.resize(first + cameras);
  if (pose_found) {
    stage_lanes_->run(cameras, [&](size_t i, size_t /*lane*/) {
      // The floor tells the detector where its rays passed through (see Update).
      dynamic_cloud_detectors_.at(i)->Update(obstacle_clouds.at(i), T_base2map_, false,
                                             ground_clouds.at(i));
    });
  }
  stage_lanes_->run(cameras, [&](size_t i, size_t /*lane*/) {
    norvel::perception::DynamicCloudDetector& detector = *dynamic_cloud_detectors_.at(i);
    for (const PointCloudPtr& cluster : cluster_lists.at(i)) {
      auto dynamic_part = std::make_shared<PointCloud>();
      auto static_part = std::make_shared<PointCloud>();
      detector.DivideCloud(*cluster, *dynamic_part, *static_part);
      // A person walking beside a wall or a bench shares its cluster; before the share rule
      // calls all of it static, the moving bodies in it become clusters of their own.
      if (static_cast<float>(dynamic_part->size()) <
          static_ratio_ * static_cast<float>(cluster->size())) {
        const std::vector<norvel::perception::ClusterPart> parts =
            norvel::perception::separateMovingBodies(*cluster, *dynamic_part,
                                                     norvel::perception::MovingBodySettings{});
        for (const norvel::perception::ClusterPart& part : parts) {
          sortClusterByDynamicShare(part.cluster, part.dynamic_part, part.static_part,
                                    dynamic_ratio_, static_ratio_, dynamic_lists[first + i],
                                    static_lists[first + i]);
        }
        if (!parts.empty()) {
          continue;
        }
      }
      sortClusterByDynamicShare(cluster, dynamic_part, static_part, dynamic_ratio_, static_ratio_,
                                dynamic_lists[first + i], static_lists[first + i]);
    }
  });
  LOG_INFO("dynamic static split time: {}ms.", elapsedMs(timer));
}

void LidarDetectNode::postFusion(const std::vector<BBox>& boxes,
                                 std::vector<CloudList>& dynamic_clusters,
                                 std::vector<CloudList>& static_clusters) {
  const auto start = Clock::now();
  promoteClustersInBoxes(boxes, post_fusion_threshold_,
                         static_cast<size_t>(std::max(virtual_cameras_num_, 0)), dynamic_clusters,
                         static_clusters);
  LOG_INFO("postfusion time: {} ms.", elapsedMs(start));
}

void LidarDetectNode::publishSemanticPointCloud(
    const CloudList& clusters, const rclcpp::Time& stamp,
    const std::shared_ptr<SemanticPublisher>& semantic_pub,
    const std::shared_ptr<CloudPublisher>& cloud_pub, bool pub_sem_info, bool pub_cloud_info,
    uint32_t camera_index) {
  if (semantic_pub == nullptr) {
    return;
  }
  corvanta_protocol::msg::SemanticPointCloud message;
  message.header.frame_id = base_frame_id_;
  message.header.stamp = stamp;
  message.camera_id = static_cast<uint8_t>(camera_index);
  message.obstacles.reserve(clusters.size());
  for (const PointCloudPtr& cluster : clusters) {
    corvanta_protocol::msg::SemanticObstacle obstacle;
    obstacle.type = semantic_type_;
    obstacle.reserved = 0;
    obstacle.flag = semantic_flag_;
    obstacle.cloud = toObstacleCloud(*cluster, message.header);
    message.obstacles.push_back(std::move(obstacle));
  }
  if (pub_sem_info) {
    if (std::shared_ptr<CameraFrame> frame =
            CameraFrameInstance::get(static_cast<int>(camera_index))) {
      frame->fillShapeToMsg(message);
    }
    semantic_pub->publish(message);
    LOG_INFO("publishSemanticPointCloud success!");
  }
  if (pub_cloud_info) {
    if (cloud_pub != nullptr) {
      pcl::PointCloud<pcl::PointXYZRGB> coloured;
      size_t total = 0;
      for (const PointCloudPtr& cluster : clusters) {
        total += cluster->size();
      }
      coloured.reserve(total);
      for (size_t k = 0; k < clusters.size(); ++k) {
        const auto& colour = kClusterPalette[k % kClusterPalette.size()];
        for (const auto& p : clusters[k]->points) {
          pcl::PointXYZRGB point(colour[0], colour[1], colour[2]);
          point.x = p.x;
          point.y = p.y;
          point.z = p.z;
          point.a = 255;
          coloured.push_back(point);
        }
      }
      sensor_msgs::msg::PointCloud2 cloud;
      pcl::toROSMsg(coloured, cloud);
      cloud.header.frame_id = base_frame_id_;
      cloud.header.stamp = stamp;
      cloud_pub->publish(cloud);
    }
    LOG_INFO("publishPointCloud success!");
  }
}

rcl_interfaces::msg::SetParametersResult LidarDetectNode::dynamicParametersCallback(
    const std::vector<rclcpp::Parameter>& parameters) {
  std::lock_guard<std::mutex> lock(params_mutex_);
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = false;
  const std::string prefix = "lidar_" + std::to_string(lidar_id_) + ".";

  auto handled_field = [&prefix](const std::string& name) -> const GroundField* {
    for (const GroundField& field : kGroundFields) {
      if (name == prefix + field.name) {
        return &field;
      }
    }
    return nullptr;
  };
  // A value of another type for a ground key rejects the whole request before anything changes.
  for (const rclcpp::Parameter& parameter : parameters) {
    if (handled_field(parameter.get_name()) != nullptr &&
        parameter.get_type() != rclcpp::ParameterType::PARAMETER_DOUBLE) {
      result.reason = fmt::format("parameter {} must be a double, got {}", parameter.get_name(),
                                  rclcpp::to_string(parameter.get_type()));
      LOG_ERROR("dynamicParametersCallback rejects the request: {}", result.reason);
      return result;
    }
    if (handled_field(parameter.get_name()) != nullptr && !std::isfinite(parameter.as_double())) {
      result.reason = fmt::format("parameter {} must be a finite number, got {}",
                                  parameter.get_name(), parameter.as_double());
      LOG_ERROR("dynamicParametersCallback rejects the request: {}", result.reason);
      return result;
    }
  }
  for (const rclcpp::Parameter& parameter : parameters) {
    LOG_INFO("dynamicParametersCallback updates param named {}", parameter.get_name());
    if (const GroundField* field = handled_field(parameter.get_name())) {
      remove_ground_params_.*(field->member) = static_cast<float>(parameter.as_double());
      params_updated_ = true;
    }
  }
  result.successful = true;
  return result;
}

}  // namespace lidar_perception
