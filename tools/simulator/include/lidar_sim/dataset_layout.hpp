// Names and record layout of a simulated data set directory (described in the README beside
// the simulator sources). Shared by the writer and the reader so that they cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace lidar_sim {

// A data set directory or file that cannot be written or read; the message names the path.
class DatasetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace dataset_layout {

constexpr const char* kFormatName = "lidar_scene_simulator";
constexpr int kFormatVersion = 1;
constexpr const char* kIndexFile = "dataset.yaml";
constexpr const char* kScenarioCopy = "scenario.yaml";
constexpr const char* kFramesDirectory = "frames";

// One point on disk, little-endian, no padding between records.
constexpr std::size_t kPointRecordSize = 24;
constexpr std::size_t kOffsetX = 0;           // float32, metres, lidar frame
constexpr std::size_t kOffsetY = 4;           // float32
constexpr std::size_t kOffsetZ = 8;           // float32
constexpr std::size_t kOffsetIntensity = 12;  // float32, 0..255
constexpr std::size_t kOffsetTime = 16;       // uint32, ns after the frame stamp
constexpr std::size_t kOffsetObjectId = 20;   // uint16, 0 = floor
constexpr std::size_t kOffsetLabel = 22;      // uint8, 0 ground, 1 static, 2 dynamic
constexpr std::size_t kOffsetLine = 23;       // uint8, ring or laser

// "frames/000042" without extension; ".bin" holds the points, ".yaml" the rest.
std::string frameStem(std::uint32_t index);

}  // namespace dataset_layout

}  // namespace lidar_sim
