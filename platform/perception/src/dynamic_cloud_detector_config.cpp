#include <norvel/perception/dynamic_cloud_detector_config.hpp>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace norvel {
namespace perception {

namespace {

constexpr const char* kRootKey = "dynamic_cloud_detector";

template <typename T>
void readValue(const YAML::Node& section, const std::string& path, const char* key, T& value) {
  const YAML::Node node = section[key];
  if (!node) {
    return;  // absent keys keep their defaults
  }
  try {
    value = node.as<T>();
  } catch (const YAML::Exception&) {
    throw std::runtime_error(
        fmt::format("{}: {}.{} must be a {}, got '{}'", path, kRootKey, key,
                    std::is_integral<T>::value ? "integer" : "number",
                    node.IsScalar() ? node.Scalar() : std::string("<not a scalar>")));
  }
  if (!std::isfinite(static_cast<double>(value))) {
    throw std::runtime_error(fmt::format("{}: {}.{} must be finite", path, kRootKey, key));
  }
}

template <typename T>
void requireAtLeast(const std::string& path, const char* key, T value, T minimum) {
  if (value < minimum) {
    throw std::runtime_error(
        fmt::format("{}: {}.{} must be >= {}, got {}", path, kRootKey, key, minimum, value));
  }
}

}  // namespace

DynamicCloudDetectorConfig DynamicCloudDetectorConfig::load(const std::string& yaml_path) {
  YAML::Node root;
  try {
    root = YAML::LoadFile(yaml_path);
  } catch (const YAML::BadFile&) {
    throw std::runtime_error(
        fmt::format("{}: cannot open the dynamic cloud detector settings", yaml_path));
  } catch (const YAML::Exception& e) {
    throw std::runtime_error(fmt::format("{}: malformed YAML: {}", yaml_path, e.what()));
  }
  const YAML::Node section = root[kRootKey];
  if (!section || !section.IsMap()) {
    throw std::runtime_error(fmt::format("{}: missing the map '{}'", yaml_path, kRootKey));
  }
  DynamicCloudDetectorConfig c;
  readValue(section, yaml_path, "history_frames", c.history_frames);
  readValue(section, yaml_path, "min_frame_age", c.min_frame_age);
  readValue(section, yaml_path, "pixel_angle_deg", c.pixel_angle_deg);
  readValue(section, yaml_path, "depth_margin", c.depth_margin);
  readValue(section, yaml_path, "depth_margin_per_metre", c.depth_margin_per_metre);
  readValue(section, yaml_path, "min_free_votes", c.min_free_votes);
  readValue(section, yaml_path, "spread_radius", c.spread_radius);
  readValue(section, yaml_path, "recession_min_step", c.recession_min_step);
  readValue(section, yaml_path, "track_min_step", c.track_min_step);
  readValue(section, yaml_path, "track_window", c.track_window);
  readValue(section, yaml_path, "track_max_radius", c.track_max_radius);
  readValue(section, yaml_path, "min_point_height", c.min_point_height);
  readValue(section, yaml_path, "sensor_min_elevation_deg", c.sensor_min_elevation_deg);
  readValue(section, yaml_path, "sensor_max_elevation_deg", c.sensor_max_elevation_deg);
  readValue(section, yaml_path, "roi_x_max", c.roi_x_max);
  readValue(section, yaml_path, "roi_y_max", c.roi_y_max);
  readValue(section, yaml_path, "roi_z_max", c.roi_z_max);
  readValue(section, yaml_path, "roi_margin", c.roi_margin);

  requireAtLeast(yaml_path, "history_frames", c.history_frames, 1);
  requireAtLeast(yaml_path, "min_frame_age", c.min_frame_age, 1);
  requireAtLeast(yaml_path, "min_free_votes", c.min_free_votes, 1);
  requireAtLeast(yaml_path, "depth_margin", c.depth_margin, 0.0F);
  requireAtLeast(yaml_path, "depth_margin_per_metre", c.depth_margin_per_metre, 0.0F);
  requireAtLeast(yaml_path, "roi_margin", c.roi_margin, 0.0F);
  requireAtLeast(yaml_path, "spread_radius", c.spread_radius, 0.0F);
  requireAtLeast(yaml_path, "recession_min_step", c.recession_min_step, 0.0F);
  requireAtLeast(yaml_path, "track_min_step", c.track_min_step, 0.0F);
  requireAtLeast(yaml_path, "track_window", c.track_window, 4);
  requireAtLeast(yaml_path, "track_max_radius", c.track_max_radius, 0.0F);
  if (!(c.pixel_angle_deg > 0.0F && c.pixel_angle_deg < 45.0F)) {
    throw std::runtime_error(fmt::format("{}: {}.pixel_angle_deg must be in (0, 45), got {}",
                                         yaml_path, kRootKey, c.pixel_angle_deg));
  }
  if (!(c.sensor_min_elevation_deg < c.sensor_max_elevation_deg &&
        c.sensor_min_elevation_deg > -90.0F && c.sensor_max_elevation_deg < 90.0F)) {
    throw std::runtime_error(
        fmt::format("{}: {}: need -90 < sensor_min_elevation_deg < sensor_max_elevation_deg < 90, "
                    "got {} and {}",
                    yaml_path, kRootKey, c.sensor_min_elevation_deg, c.sensor_max_elevation_deg));
  }
  return c;
}

void DynamicCloudDetectorConfig::applyNodeLimits(const NodeLimits& limits) {
  auto requirePositive = [](const char* name, float value) {
    if (!(value > 0.0F)) {
      throw std::invalid_argument(
          fmt::format("dynamic cloud detector: the node's {} must be > 0, got {}", name, value));
    }
  };
  requirePositive("region half length (x_large)", limits.roi_x_max);
  requirePositive("region half width (y_large)", limits.roi_y_max);
  requirePositive("height cut (max_obstacle_height)", limits.roi_z_max);
  if (limits.sensor_max_elevation_deg.has_value()) {
    const float elevation = *limits.sensor_max_elevation_deg;
    if (!(elevation > sensor_min_elevation_deg && elevation < 90.0F)) {
      throw std::invalid_argument(fmt::format(
          "dynamic cloud detector: the up-cone cut leaves an upper view edge of {} degrees, which "
          "must lie above sensor_min_elevation_deg ({}) and below 90",
          elevation, sensor_min_elevation_deg));
    }
    sensor_max_elevation_deg = elevation;
  }
  roi_x_max = limits.roi_x_max;
  roi_y_max = limits.roi_y_max;
  roi_z_max = limits.roi_z_max;
}

}  // namespace perception
}  // namespace norvel
