#include "scan_player/scan_conversion.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

namespace scan_player {

namespace {

using sensor_msgs::msg::PointField;

std::optional<PointField> findField(const sensor_msgs::msg::PointCloud2& cloud,
                                    const std::string& name) {
  for (const auto& field : cloud.fields) {
    if (field.name == name) {
      return field;
    }
  }
  return std::nullopt;
}

std::size_t fieldSize(std::uint8_t datatype) {
  switch (datatype) {
    case PointField::INT8:
    case PointField::UINT8:
      return 1;
    case PointField::INT16:
    case PointField::UINT16:
      return 2;
    case PointField::INT32:
    case PointField::UINT32:
    case PointField::FLOAT32:
      return 4;
    case PointField::FLOAT64:
      return 8;
    default:
      return 0;
  }
}

// Reads a field of any numeric type as double; the offset is checked against the point step by
// the caller.
double readNumber(const std::uint8_t* point, const PointField& field) {
  const std::uint8_t* at = point + field.offset;
  switch (field.datatype) {
    case PointField::INT8:
      return static_cast<double>(static_cast<std::int8_t>(*at));
    case PointField::UINT8:
      return static_cast<double>(*at);
    case PointField::INT16: {
      std::int16_t v;
      std::memcpy(&v, at, sizeof(v));
      return v;
    }
    case PointField::UINT16: {
      std::uint16_t v;
      std::memcpy(&v, at, sizeof(v));
      return v;
    }
    case PointField::INT32: {
      std::int32_t v;
      std::memcpy(&v, at, sizeof(v));
      return v;
    }
    case PointField::UINT32: {
      std::uint32_t v;
      std::memcpy(&v, at, sizeof(v));
      return v;
    }
    case PointField::FLOAT32: {
      float v;
      std::memcpy(&v, at, sizeof(v));
      return v;
    }
    case PointField::FLOAT64: {
      double v;
      std::memcpy(&v, at, sizeof(v));
      return v;
    }
    default:
      return 0.0;
  }
}

// A field usable for reading: known type, inside the point step.
std::optional<PointField> usableField(const sensor_msgs::msg::PointCloud2& cloud,
                                      const std::string& name) {
  auto field = findField(cloud, name);
  if (!field) {
    return std::nullopt;
  }
  const std::size_t size = fieldSize(field->datatype);
  if (size == 0 || field->offset + size > cloud.point_step) {
    throw std::invalid_argument(
        fmt::format("field '{}' (datatype {}, offset {}) does not fit a point of {} bytes", name,
                    field->datatype, field->offset, cloud.point_step));
  }
  return field;
}

}  // namespace

livox_ros_driver2::msg::CustomMsg toCustomMsg(const sensor_msgs::msg::PointCloud2& cloud) {
  if (cloud.is_bigendian) {
    throw std::invalid_argument("big-endian point clouds are not supported");
  }
  std::optional<PointField> xyz[3];
  const char* names[3] = {"x", "y", "z"};
  for (int i = 0; i < 3; ++i) {
    xyz[i] = usableField(cloud, names[i]);
    if (!xyz[i] || xyz[i]->datatype != PointField::FLOAT32) {
      throw std::invalid_argument(
          fmt::format("the cloud has no float32 field '{}' (fields: {})", names[i], [&] {
            std::string list;
            for (const auto& f : cloud.fields) {
              list += (list.empty() ? "" : ", ") + f.name;
            }
            return list.empty() ? std::string("none") : list;
          }()));
    }
  }
  const std::uint64_t points = static_cast<std::uint64_t>(cloud.width) * cloud.height;
  // Every point takes at least one byte, so more points than bytes is refused before the
  // product, which could wrap around.
  if (cloud.point_step == 0 || points > cloud.data.size() ||
      points * cloud.point_step > cloud.data.size() ||
      static_cast<std::uint64_t>(cloud.row_step) * cloud.height > cloud.data.size()) {
    throw std::invalid_argument(fmt::format(
        "the cloud declares {} x {} points of {} bytes (rows of {}) but carries {} bytes",
        cloud.width, cloud.height, cloud.point_step, cloud.row_step, cloud.data.size()));
  }
  const auto intensity = usableField(cloud, "intensity");
  auto time = usableField(cloud, "offset_time");
  double time_scale = 1.0;  // to nanoseconds
  if (!time) {
    time = usableField(cloud, "time");
    if (!time) {
      time = usableField(cloud, "t");
    }
    if (time && (time->datatype == PointField::FLOAT32 || time->datatype == PointField::FLOAT64)) {
      time_scale = 1e9;
    }
  }
  auto line = usableField(cloud, "ring");
  if (!line) {
    line = usableField(cloud, "line");
  }

  livox_ros_driver2::msg::CustomMsg custom;
  custom.header = cloud.header;
  custom.timebase = static_cast<std::uint64_t>(cloud.header.stamp.sec) * 1000000000ULL +
                    cloud.header.stamp.nanosec;
  custom.points.reserve(static_cast<std::size_t>(points));
  if (points == 0) {
    // Rows of no points (a height in the billions takes seconds to walk through).
    return custom;
  }
  for (std::uint32_t row = 0; row < cloud.height; ++row) {
    const std::uint8_t* row_start =
        cloud.data.data() + static_cast<std::size_t>(row) * cloud.row_step;
    for (std::uint32_t col = 0; col < cloud.width; ++col) {
      const std::uint8_t* point = row_start + static_cast<std::size_t>(col) * cloud.point_step;
      livox_ros_driver2::msg::CustomPoint out;
      out.x = static_cast<float>(readNumber(point, *xyz[0]));
      out.y = static_cast<float>(readNumber(point, *xyz[1]));
      out.z = static_cast<float>(readNumber(point, *xyz[2]));
      if (!std::isfinite(out.x) || !std::isfinite(out.y) || !std::isfinite(out.z)) {
        continue;
      }
      if (intensity) {
        const double value = readNumber(point, *intensity);
        out.reflectivity =
            static_cast<std::uint8_t>(std::isfinite(value) ? std::clamp(value, 0.0, 255.0) : 0.0);
      }
      if (time) {
        const double ns = readNumber(point, *time) * time_scale;
        out.offset_time =
            static_cast<std::uint32_t>(std::isfinite(ns) ? std::clamp(ns, 0.0, 4294967295.0) : 0.0);
      }
      if (line) {
        // A float ring may be NaN, which clamps to NaN and has no uint8 value: line 0, as for
        // the reflectivity.
        const double value = readNumber(point, *line);
        out.line =
            static_cast<std::uint8_t>(std::isfinite(value) ? std::clamp(value, 0.0, 255.0) : 0.0);
      }
      custom.points.push_back(out);
    }
  }
  custom.point_num = static_cast<std::uint32_t>(custom.points.size());
  return custom;
}

sensor_msgs::msg::PointCloud2 toPointCloud2(const livox_ros_driver2::msg::CustomMsg& custom) {
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header = custom.header;
  const char* names[4] = {"x", "y", "z", "intensity"};
  for (std::uint32_t i = 0; i < 4; ++i) {
    PointField field;
    field.name = names[i];
    field.offset = 4 * i;
    field.datatype = PointField::FLOAT32;
    field.count = 1;
    cloud.fields.push_back(field);
  }
  cloud.height = 1;
  cloud.width = static_cast<std::uint32_t>(custom.points.size());
  cloud.point_step = 16;
  cloud.row_step = cloud.point_step * cloud.width;
  cloud.is_bigendian = false;
  cloud.is_dense = true;
  cloud.data.resize(static_cast<std::size_t>(cloud.row_step));
  std::uint8_t* out = cloud.data.data();
  for (const auto& point : custom.points) {
    const float values[4] = {point.x, point.y, point.z, static_cast<float>(point.reflectivity)};
    std::memcpy(out, values, sizeof(values));
    out += sizeof(values);
  }
  return cloud;
}

}  // namespace scan_player
