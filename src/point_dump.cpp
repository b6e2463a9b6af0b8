#include "point_dump.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "logger.hpp"

namespace lidar_perception {
namespace {

// float32 little-endian, whatever the host order.
void appendLittleEndian(float value, std::vector<char>& out) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof(bits));
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((bits >> shift) & 0xffu));
  }
}

}  // namespace

PointDumpWriter::PointDumpWriter(std::string directory) : directory_(std::move(directory)) {}

bool PointDumpWriter::write(const pcl::PointCloud<pcl::PointXYZ>& cloud) {
  const std::string path = directory_ + "/" + std::to_string(counter_) + ".bin";
  ++counter_;
  std::string error;
  bool written = false;
  try {
    written = writeFile(path, cloud, error);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!written && !failure_logged_) {
    failure_logged_ = true;
    LOG_ERROR("point dump: cannot write {}: {}; frames go on, later dump failures are not logged",
              path, error);
  }
  return written;
}

bool PointDumpWriter::writeFile(const std::string& path,
                                const pcl::PointCloud<pcl::PointXYZ>& cloud, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(directory_, ec);
  if (ec) {
    error = "creating the directory failed: " + ec.message();
    return false;
  }
  bytes_.clear();
  bytes_.reserve(cloud.size() * 16);
  for (const auto& p : cloud.points) {
    appendLittleEndian(p.x, bytes_);
    appendLittleEndian(p.y, bytes_);
    appendLittleEndian(p.z, bytes_);
    appendLittleEndian(0.0f, bytes_);
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  file.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
  file.close();
  if (!file) {
    error = "writing failed";
    return false;
  }
  return true;
}

}  // namespace lidar_perception
