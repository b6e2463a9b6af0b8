// A throw-away ament prefix holding the package's configuration files, with a detector
// configuration chosen by the test, placed first on AMENT_PREFIX_PATH while it lives.
#pragma once

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <yaml-cpp/yaml.h>

namespace lidar_perception {

class DetectorPackagePrefix {
 public:
  // `edit` changes the shipped trelvon.yaml (read from the source tree) before it is written;
  // `model_path`, when not empty, replaces the backbone's model path.
  DetectorPackagePrefix(const std::string& source_config_dir, const std::string& model_path,
                        const std::function<void(YAML::Node&)>& edit = {}) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "detector_prefix_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a temporary prefix");
    }
    root_ = pattern;
    const fs::path index = root_ / "share/ament_index/resource_index/packages";
    fs::create_directories(index);
    std::ofstream(index / "corvanta_3d_lidar_detect").close();
    const fs::path config = root_ / "share/corvanta_3d_lidar_detect/config/default_params";
    fs::create_directories(config);
    fs::copy_file(fs::path(source_config_dir) / "dynamic_cloud_detector.yaml",
                  config / "dynamic_cloud_detector.yaml");
    YAML::Node trelvon = YAML::LoadFile(source_config_dir + "/trelvon.yaml");
    if (!model_path.empty()) {
      trelvon["backbone"]["model_path"] = model_path;
    }
    if (edit) {
      edit(trelvon);
    }
    trelvon_path_ = (config / "trelvon.yaml").string();
    std::ofstream(trelvon_path_) << YAML::Dump(trelvon) << "\n";

    const char* previous = std::getenv("AMENT_PREFIX_PATH");
    had_previous_ = previous != nullptr;
    previous_ = had_previous_ ? previous : "";
    const std::string value = root_.string() + (had_previous_ ? ":" + previous_ : "");
    setenv("AMENT_PREFIX_PATH", value.c_str(), 1);
  }
  ~DetectorPackagePrefix() {
    if (had_previous_) {
      setenv("AMENT_PREFIX_PATH", previous_.c_str(), 1);
    } else {
      unsetenv("AMENT_PREFIX_PATH");
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  DetectorPackagePrefix(const DetectorPackagePrefix&) = delete;
  DetectorPackagePrefix& operator=(const DetectorPackagePrefix&) = delete;

  const std::string& trelvonPath() const { return trelvon_path_; }
  std::filesystem::path root() const { return root_; }

 private:
  std::filesystem::path root_;
  std::string trelvon_path_;
  bool had_previous_{false};
  std::string previous_;
};

// The anchors the tests' own networks size their boxes from (the random network of
// make_models.py, and train_person_detector.py, which puts anchor 0, 0.8 m x 0.6 m, on each
// person). They are pinned here so that these tests do not follow the shipped anchors, which
// belong to the shipped model.
inline void useTestModelAnchors(YAML::Node& trelvon) {
  YAML::Node anchors(YAML::NodeType::Sequence);
  for (const auto& size :
       {std::array<double, 3>{0.8, 0.6, 1.73}, std::array<double, 3>{1.76, 0.6, 1.73},
        std::array<double, 3>{3.9, 1.6, 1.56}}) {
    for (const double yaw : {0.0, 1.57}) {
      YAML::Node anchor(YAML::NodeType::Sequence);
      anchor.SetStyle(YAML::EmitterStyle::Flow);
      anchor.push_back(size[0]);
      anchor.push_back(size[1]);
      anchor.push_back(size[2]);
      anchor.push_back(yaw);
      anchors.push_back(anchor);
    }
  }
  trelvon["postprocess"]["anchors"] = anchors;
}

}  // namespace lidar_perception
