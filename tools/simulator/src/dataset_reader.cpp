#include "lidar_sim/dataset_reader.hpp"

#include <fmt/format.h>

#include <yaml-cpp/yaml.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dataset_yaml.hpp"

namespace lidar_sim {

namespace fs = std::filesystem;

namespace {

YAML::Node loadYaml(const fs::path& path) {
  try {
    return YAML::LoadFile(path.string());
  } catch (const YAML::BadFile&) {
    throw DatasetError(fmt::format("{}: cannot open the file", path.string()));
  } catch (const YAML::Exception& error) {
    throw DatasetError(
        fmt::format("{}:{}: not valid YAML: {}", path.string(), error.mark.line + 1, error.msg));
  }
}

}  // namespace

DatasetReader::DatasetReader(const std::string& directory) : directory_(directory) {
  const fs::path index_path = fs::path(directory_) / dataset_layout::kIndexFile;
  const std::string file = index_path.string();
  const YAML::Node index = loadYaml(index_path);
  if (!index.IsMap()) {
    throw DatasetError(fmt::format("{}: expected a mapping", file));
  }
  if (readValue<std::string>(index, "format", file) != dataset_layout::kFormatName) {
    throw DatasetError(fmt::format("{}: 'format' is not '{}'", file, dataset_layout::kFormatName));
  }
  const int version = readValue<int>(index, "version", file);
  if (version != dataset_layout::kFormatVersion) {
    throw DatasetError(fmt::format("{}: version {} is not supported (expected {})", file, version,
                                   dataset_layout::kFormatVersion));
  }
  scenario_name_ = readValue<std::string>(index, "scenario", file);
  frame_count_ = readValue<std::uint32_t>(index, "frames", file);
  frame_period_ns_ = readValue<std::int64_t>(index, "frame_period_ns", file);
  if (readValue<int>(index, "point_record_size", file) !=
      static_cast<int>(dataset_layout::kPointRecordSize)) {
    throw DatasetError(
        fmt::format("{}: point_record_size must be {}", file, dataset_layout::kPointRecordSize));
  }
  const YAML::Node ids = index["frame_ids"];
  frame_ids_.map = readValue<std::string>(ids, "map", file);
  frame_ids_.base = readValue<std::string>(ids, "base", file);
  frame_ids_.lidar = readValue<std::string>(ids, "lidar", file);
  mount_ = readPose(index["base_to_lidar"], file, "base_to_lidar");
}

SimulatedFrame DatasetReader::readFrame(std::uint32_t index) const {
  using namespace dataset_layout;
  if (index >= frame_count_) {
    throw DatasetError(fmt::format("{}: frame {} requested but the data set holds {}", directory_,
                                   index, frame_count_));
  }
  const fs::path stem = fs::path(directory_) / frameStem(index);
  const std::string meta_file = stem.string() + ".yaml";
  const std::string points_file = stem.string() + ".bin";
  const YAML::Node meta = loadYaml(meta_file);

  SimulatedFrame frame;
  frame.index = readValue<std::uint32_t>(meta, "index", meta_file);
  if (frame.index != index) {
    throw DatasetError(
        fmt::format("{}: holds frame {}, expected {}", meta_file, frame.index, index));
  }
  frame.stamp_ns = readValue<std::int64_t>(meta, "stamp_ns", meta_file);
  frame.duration_ns = readValue<std::int64_t>(meta, "duration_ns", meta_file);
  frame.frame_ids = frame_ids_;
  frame.base_to_lidar = mount_;
  frame.map_to_base = readPose(meta["map_to_base"], meta_file, "map_to_base");
  frame.map_to_base_end = readPose(meta["map_to_base_end"], meta_file, "map_to_base_end");
  const YAML::Node boxes = meta["boxes"];
  if (!boxes.IsSequence()) {
    throw DatasetError(fmt::format("{}: 'boxes' must be a sequence", meta_file));
  }
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    frame.boxes.push_back(readBox(boxes[i], meta_file, fmt::format("boxes[{}]", i)));
  }
  const auto count = readValue<std::uint32_t>(meta, "points", meta_file);

  std::ifstream in(points_file, std::ios::binary);
  if (!in) {
    throw DatasetError(fmt::format("{}: cannot open the file", points_file));
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() != static_cast<std::size_t>(count) * kPointRecordSize) {
    throw DatasetError(fmt::format("{}: {} bytes, but {} points of {} bytes were declared",
                                   points_file, bytes.size(), count, kPointRecordSize));
  }
  pcl::PointCloud<pcl::PointXYZI>& cloud = *frame.cloud;
  cloud.resize(count);
  frame.offset_time_ns.resize(count);
  frame.object_ids.resize(count);
  frame.labels.resize(count);
  frame.line.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const char* record = bytes.data() + i * kPointRecordSize;
    pcl::PointXYZI& p = cloud[i];
    std::memcpy(&p.x, record + kOffsetX, 4);
    std::memcpy(&p.y, record + kOffsetY, 4);
    std::memcpy(&p.z, record + kOffsetZ, 4);
    std::memcpy(&p.intensity, record + kOffsetIntensity, 4);
    std::memcpy(&frame.offset_time_ns[i], record + kOffsetTime, 4);
    std::memcpy(&frame.object_ids[i], record + kOffsetObjectId, 2);
    std::uint8_t label = 0;
    std::memcpy(&label, record + kOffsetLabel, 1);
    if (label > static_cast<std::uint8_t>(PointLabel::kDynamic)) {
      throw DatasetError(
          fmt::format("{}: point {} has label {}, expected 0, 1 or 2", points_file, i, label));
    }
    frame.labels[i] = static_cast<PointLabel>(label);
    std::memcpy(&frame.line[i], record + kOffsetLine, 1);
  }
  cloud.width = count;
  cloud.height = 1;
  cloud.is_dense = true;
  return frame;
}

}  // namespace lidar_sim
