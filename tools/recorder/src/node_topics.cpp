#include "topic_recorder/node_topics.hpp"

#include <stdexcept>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

namespace topic_recorder {

namespace {

class Parameters {
 public:
  Parameters(const std::string& file, const std::string& node_name) : file_(file) {
    YAML::Node root;
    try {
      root = YAML::LoadFile(file);
    } catch (const YAML::Exception& error) {
      throw std::runtime_error(fmt::format("{}: {}", file, error.what()));
    }
    for (const std::string& key : {node_name, "/" + node_name, std::string("/**")}) {
      if (root.IsMap() && root[key] && root[key]["ros__parameters"]) {
        flatten(root[key]["ros__parameters"], "");
      }
    }
  }

  template <typename T>
  T get(const std::string& key, const T& fallback) const {
    const auto it = values_.find(key);
    if (it == values_.end()) {
      return fallback;
    }
    try {
      return it->second.as<T>();
    } catch (const YAML::Exception&) {
      throw std::runtime_error(fmt::format("{}: parameter {} has the wrong type", file_, key));
    }
  }
  bool has(const std::string& key) const { return values_.count(key) > 0; }

 private:
  void flatten(const YAML::Node& node, const std::string& prefix) {
    for (const auto& entry : node) {
      const std::string key = prefix + entry.first.as<std::string>();
      if (entry.second.IsMap()) {
        flatten(entry.second, key + ".");
      } else {
        values_[key] = entry.second;
      }
    }
  }

  std::string file_;
  std::map<std::string, YAML::Node> values_;
};

}  // namespace

std::vector<RecordedTopic> nodeTopicsFromParameters(const std::string& params_file,
                                                    const std::string& node_name) {
  const Parameters p(params_file, node_name);
  std::vector<RecordedTopic> topics;
  const std::string scan_type = p.get<int>("topic_type", 0) == 0
                                    ? "sensor_msgs/msg/PointCloud2"
                                    : "livox_ros_driver2/msg/CustomMsg";
  topics.push_back({p.get<std::string>("lidar_topic", "/cloud_registered_body"), scan_type});
  topics.push_back({"/tf", "tf2_msgs/msg/TFMessage"});
  topics.push_back({"/tf_static", "tf2_msgs/msg/TFMessage"});

  const bool split = p.get<bool>("enable_dynamic_static_split", true);
  const bool debug = p.get<bool>("debug", true);
  const int cameras = p.get<int>("virtual_cameras_num", 1);
  auto add = [&](const std::string& key, const char* type) {
    if (p.has(key)) {
      std::string name = p.get<std::string>(key, "");
      if (!name.empty() && name.front() != '/') {
        name = "/" + name;
      }
      for (const auto& known : topics) {
        if (known.name == name) {
          return;
        }
      }
      topics.push_back({name, type});
    }
  };
  for (int i = 0; i < cameras; ++i) {
    const std::string c = fmt::format("vir_cam_{}.", i);
    const char* semantic = "corvanta_protocol/msg/SemanticPointCloud";
    const char* cloud = "sensor_msgs/msg/PointCloud2";
    if (split) {
      add(c + "lidar_semantic_dynamic_obstacles_topic", semantic);
      add(c + "lidar_semantic_static_obstacles_topic", semantic);
      add(c + "lidar_dynamic_obstacles_topic", cloud);
      add(c + "lidar_static_obstacles_topic", cloud);
    } else {
      add(c + "lidar_semantic_obstacles_topic", semantic);
      add(c + "lidar_obstacles_topic", cloud);
    }
    if (debug) {
      add(c + "lidar_base_pointcloud_topic", cloud);
      add(c + "lidar_elevated_cloud_topic", cloud);
      add(c + "lidar_ground_cloud_topic", cloud);
      add(c + "virtual_camera_frustum_topic", cloud);
      add(c + "virtual_camera_pointcloud_topic", cloud);
    }
    add(c + "virtual_camera_info_topic", "sensor_msgs/msg/CameraInfo");
  }
  if (debug && p.get<bool>("post_fusion.enable", false)) {
    topics.push_back({"/livox/boundingboxes", "visualization_msgs/msg/MarkerArray"});
  }
  return topics;
}

}  // namespace topic_recorder
