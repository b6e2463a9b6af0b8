#include "lidar_sim/dataset_writer.hpp"

#include <fmt/format.h>

#include <yaml-cpp/yaml.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "dataset_yaml.hpp"
#include "lidar_sim/frame_messages.hpp"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "point records are copied byte for byte and stored little-endian");

namespace lidar_sim {

namespace fs = std::filesystem;

namespace dataset_layout {

std::string frameStem(std::uint32_t index) {
  return fmt::format("{}/{:06d}", kFramesDirectory, index);
}

}  // namespace dataset_layout

namespace {

void writeFile(const fs::path& path, const char* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    throw DatasetError(fmt::format("{}: cannot write the file", path.string()));
  }
}

// Whether `name` is a frame file this writer makes: six digits, then ".bin" or ".yaml".
bool isFrameFileName(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot != 6 || (name.substr(dot) != ".bin" && name.substr(dot) != ".yaml")) {
    return false;
  }
  return name.find_first_not_of("0123456789") == dot;
}

const char* patternName(ScanPatternType pattern) {
  return pattern == ScanPatternType::kRosette ? "rosette" : "spinning";
}

}  // namespace

DatasetWriter::DatasetWriter(const std::string& directory, const Scenario& scenario,
                             const std::string& scenario_text)
    : directory_(directory), scenario_(scenario) {
  std::error_code error;
  fs::create_directories(fs::path(directory_) / dataset_layout::kFramesDirectory, error);
  if (error) {
    throw DatasetError(
        fmt::format("{}: cannot create the data set directory: {}", directory_, error.message()));
  }
  removeStaleFrames();
  if (!scenario_text.empty()) {
    writeFile(fs::path(directory_) / dataset_layout::kScenarioCopy, scenario_text.data(),
              scenario_text.size());
  }
  writeIndex();
}

DatasetWriter::~DatasetWriter() {
  if (!finished_) {
    try {
      finish();
    } catch (const DatasetError&) {
      // A destructor must not throw; callers that care call finish() themselves.
    }
  }
}

void DatasetWriter::removeStaleFrames() {
  // Frames of an earlier, longer run in the same directory would otherwise sit beside this
  // run's and be taken for part of it. Other files are left alone.
  const fs::path frames = fs::path(directory_) / dataset_layout::kFramesDirectory;
  std::error_code error;
  for (fs::directory_iterator it(frames, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file() && isFrameFileName(it->path().filename().string())) {
      std::error_code remove_error;
      if (!fs::remove(it->path(), remove_error) || remove_error) {
        throw DatasetError(fmt::format("{}: cannot remove the frame file of an earlier run: {}",
                                       it->path().string(), remove_error.message()));
      }
      ++stale_files_removed_;
    }
  }
  if (error) {
    throw DatasetError(
        fmt::format("{}: cannot list the directory: {}", frames.string(), error.message()));
  }
}

void DatasetWriter::writeIndex() const {
  YAML::Emitter out;
  out.SetDoublePrecision(17);
  out << YAML::BeginMap;
  out << YAML::Key << "format" << YAML::Value << dataset_layout::kFormatName;
  out << YAML::Key << "version" << YAML::Value << dataset_layout::kFormatVersion;
  out << YAML::Key << "scenario" << YAML::Value << scenario_.name;
  out << YAML::Key << "seed" << YAML::Value << scenario_.seed;
  out << YAML::Key << "frames" << YAML::Value << frames_written_;
  out << YAML::Key << "frame_period_ns" << YAML::Value
      << static_cast<long long>(std::llround(scenario_.lidar.frame_period * 1e9));
  out << YAML::Key << "pattern" << YAML::Value << patternName(scenario_.lidar.pattern);
  out << YAML::Key << "frame_ids" << YAML::Value << YAML::BeginMap;
  out << YAML::Key << "map" << YAML::Value << scenario_.frame_ids.map;
  out << YAML::Key << "base" << YAML::Value << scenario_.frame_ids.base;
  out << YAML::Key << "lidar" << YAML::Value << scenario_.frame_ids.lidar;
  out << YAML::EndMap;
  out << YAML::Key << "base_to_lidar" << YAML::Value;
  emitPose(out, scenario_.lidar.mount);
  out << YAML::Key << "point_record_size" << YAML::Value << dataset_layout::kPointRecordSize;
  out << YAML::EndMap;
  const std::string text = std::string(out.c_str()) + "\n";
  writeFile(fs::path(directory_) / dataset_layout::kIndexFile, text.data(), text.size());
}

void DatasetWriter::write(const SimulatedFrame& frame) {
  frame.checkConsistent();
  using namespace dataset_layout;
  const std::size_t count = frame.size();
  buffer_.resize(count * kPointRecordSize);
  char* out = buffer_.data();
  for (std::size_t i = 0; i < count; ++i) {
    const pcl::PointXYZI& p = (*frame.cloud)[i];
    char* record = out + i * kPointRecordSize;
    const auto label = static_cast<std::uint8_t>(frame.labels[i]);
    std::memcpy(record + kOffsetX, &p.x, 4);
    std::memcpy(record + kOffsetY, &p.y, 4);
    std::memcpy(record + kOffsetZ, &p.z, 4);
    std::memcpy(record + kOffsetIntensity, &p.intensity, 4);
    std::memcpy(record + kOffsetTime, &frame.offset_time_ns[i], 4);
    std::memcpy(record + kOffsetObjectId, &frame.object_ids[i], 2);
    std::memcpy(record + kOffsetLabel, &label, 1);
    std::memcpy(record + kOffsetLine, &frame.line[i], 1);
  }
  const fs::path stem = fs::path(directory_) / frameStem(frame.index);
  writeFile(stem.string() + ".bin", buffer_.data(), buffer_.size());

  YAML::Emitter meta;
  meta.SetDoublePrecision(17);
  meta << YAML::BeginMap;
  meta << YAML::Key << "index" << YAML::Value << frame.index;
  meta << YAML::Key << "stamp_ns" << YAML::Value << static_cast<long long>(frame.stamp_ns);
  const builtin_interfaces::msg::Time stamp = toTimeMsg(frame.stamp_ns);
  meta << YAML::Key << "stamp" << YAML::Value << YAML::Flow << YAML::BeginMap << YAML::Key << "sec"
       << YAML::Value << stamp.sec << YAML::Key << "nanosec" << YAML::Value << stamp.nanosec
       << YAML::EndMap;
  meta << YAML::Key << "duration_ns" << YAML::Value << static_cast<long long>(frame.duration_ns);
  meta << YAML::Key << "points" << YAML::Value << count;
  meta << YAML::Key << "map_to_base" << YAML::Value;
  emitPose(meta, frame.map_to_base);
  meta << YAML::Key << "map_to_base_end" << YAML::Value;
  emitPose(meta, frame.map_to_base_end);
  meta << YAML::Key << "boxes" << YAML::Value << YAML::BeginSeq;
  for (const ObjectBox& box : frame.boxes) {
    emitBox(meta, box);
  }
  meta << YAML::EndSeq << YAML::EndMap;
  const std::string text = std::string(meta.c_str()) + "\n";
  writeFile(stem.string() + ".yaml", text.data(), text.size());

  bytes_written_ += buffer_.size() + text.size();
  if (frame.index + 1 > frames_written_) {
    frames_written_ = frame.index + 1;
  }
}

void DatasetWriter::finish() {
  finished_ = true;
  writeIndex();
}

}  // namespace lidar_sim
