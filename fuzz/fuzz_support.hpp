// Helpers shared by the fuzzers: a private scratch folder for readers that take a path, splitting
// one input into several documents, and a PointCloud2 whose layout comes from the input.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <sensor_msgs/msg/point_field.hpp>
#include <string>
#include <vector>

namespace fuzz_support {

// A folder of this process under the system's temporary folder, made on first use.
inline const std::filesystem::path& scratchDir() {
  static const std::filesystem::path dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "corvanta_fuzz_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::abort();
    }
    return std::filesystem::path(pattern);
  }();
  return dir;
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The line that separates the documents of one input ("first\n#----\nsecond").
constexpr const char* kSeparator = "\n#----\n";

inline std::vector<std::string> splitDocuments(const std::uint8_t* data, std::size_t size,
                                               std::size_t max_parts) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string separator(kSeparator);
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (parts.size() + 1 < max_parts) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string::npos) {
      break;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

// A PointCloud2 with every layout field taken from the input (any value, lying ones included)
// and the rest of the input as its data.
inline sensor_msgs::msg::PointCloud2 cloudFromInput(FuzzedDataProvider& input) {
  static const char* const kNames[] = {"x",    "y",    "z",           "intensity", "t", "time",
                                       "ring", "line", "offset_time", "rgb",       ""};
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = "lidar";
  cloud.height = input.ConsumeIntegral<std::uint32_t>();
  cloud.width = input.ConsumeIntegral<std::uint32_t>();
  cloud.point_step = input.ConsumeIntegral<std::uint32_t>();
  cloud.row_step = input.ConsumeIntegral<std::uint32_t>();
  cloud.is_bigendian = input.ConsumeBool();
  cloud.is_dense = input.ConsumeBool();
  const std::size_t fields = input.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < fields; ++i) {
    sensor_msgs::msg::PointField field;
    field.name = kNames[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kNames) - 1)];
    field.offset = input.ConsumeIntegral<std::uint32_t>();
    field.datatype = input.ConsumeIntegral<std::uint8_t>();
    field.count = input.ConsumeIntegral<std::uint32_t>();
    cloud.fields.push_back(field);
  }
  cloud.data = input.ConsumeRemainingBytes<std::uint8_t>();
  return cloud;
}

}  // namespace fuzz_support
