#include "dataset_yaml.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>

#include "lidar_sim/dataset_layout.hpp"

namespace lidar_sim {

namespace {

template <typename T>
T convertOrThrow(const YAML::Node& value, const std::string& key, const std::string& file) {
  T parsed{};
  if (!value.IsDefined() || value.IsNull()) {
    throw DatasetError(fmt::format("{}: missing key '{}'", file, key));
  }
  if (!value.IsScalar() || !YAML::convert<T>::decode(value, parsed)) {
    throw DatasetError(fmt::format("{}: key '{}' has the wrong type", file, key));
  }
  return parsed;
}

std::vector<double> readNumbers(const YAML::Node& node, const std::string& key, std::size_t count,
                                const std::string& file) {
  if (!node.IsSequence() || node.size() != count) {
    throw DatasetError(
        fmt::format("{}: key '{}' must be a sequence of {} numbers", file, key, count));
  }
  std::vector<double> values;
  for (std::size_t i = 0; i < count; ++i) {
    values.push_back(convertOrThrow<double>(node[i], fmt::format("{}[{}]", key, i), file));
  }
  return values;
}

}  // namespace

template <typename T>
T readValue(const YAML::Node& parent, const std::string& key, const std::string& file) {
  if (!parent.IsMap()) {
    throw DatasetError(fmt::format("{}: expected a mapping holding '{}'", file, key));
  }
  return convertOrThrow<T>(parent[key], key, file);
}

template double readValue<double>(const YAML::Node&, const std::string&, const std::string&);
template std::int64_t readValue<std::int64_t>(const YAML::Node&, const std::string&,
                                              const std::string&);
template std::uint32_t readValue<std::uint32_t>(const YAML::Node&, const std::string&,
                                                const std::string&);
template int readValue<int>(const YAML::Node&, const std::string&, const std::string&);
template std::string readValue<std::string>(const YAML::Node&, const std::string&,
                                            const std::string&);

void emitPose(YAML::Emitter& out, const Eigen::Isometry3d& pose) {
  const Eigen::Vector3d t = pose.translation();
  const Eigen::Quaterniond q(pose.linear());
  out << YAML::Flow << YAML::BeginMap;
  out << YAML::Key << "translation" << YAML::Value << YAML::Flow << YAML::BeginSeq << t.x() << t.y()
      << t.z() << YAML::EndSeq;
  out << YAML::Key << "rotation_xyzw" << YAML::Value << YAML::Flow << YAML::BeginSeq << q.x()
      << q.y() << q.z() << q.w() << YAML::EndSeq;
  out << YAML::EndMap;
}

Eigen::Isometry3d readPose(const YAML::Node& node, const std::string& file,
                           const std::string& key) {
  if (!node.IsMap()) {
    throw DatasetError(fmt::format("{}: key '{}' must be a pose mapping", file, key));
  }
  const std::vector<double> t = readNumbers(node["translation"], key + ".translation", 3, file);
  const std::vector<double> q = readNumbers(node["rotation_xyzw"], key + ".rotation_xyzw", 4, file);
  Eigen::Quaterniond rotation(q[3], q[0], q[1], q[2]);
  if (std::abs(rotation.norm() - 1.0) > 1e-6) {
    throw DatasetError(
        fmt::format("{}: key '{}.rotation_xyzw' is not a unit quaternion", file, key));
  }
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.linear() = rotation.normalized().toRotationMatrix();
  pose.translation() = Eigen::Vector3d(t[0], t[1], t[2]);
  return pose;
}

void emitBox(YAML::Emitter& out, const ObjectBox& box) {
  out << YAML::Flow << YAML::BeginMap;
  out << YAML::Key << "id" << YAML::Value << box.id;
  out << YAML::Key << "class" << YAML::Value << toString(box.object_class);
  out << YAML::Key << "x" << YAML::Value << box.x;
  out << YAML::Key << "y" << YAML::Value << box.y;
  out << YAML::Key << "z" << YAML::Value << box.z;
  out << YAML::Key << "length" << YAML::Value << box.length;
  out << YAML::Key << "width" << YAML::Value << box.width;
  out << YAML::Key << "height" << YAML::Value << box.height;
  out << YAML::Key << "yaw" << YAML::Value << box.yaw;
  out << YAML::Key << "speed" << YAML::Value << box.speed;
  out << YAML::EndMap;
}

ObjectBox readBox(const YAML::Node& node, const std::string& file, const std::string& key) {
  if (!node.IsMap()) {
    throw DatasetError(fmt::format("{}: {} must be a box mapping", file, key));
  }
  const std::string where = fmt::format("{} ({})", file, key);
  ObjectBox box;
  const int id = readValue<int>(node, "id", where);
  if (id < 0 || id > 65535) {
    throw DatasetError(fmt::format("{}: id {} out of range", where, id));
  }
  box.id = static_cast<std::uint16_t>(id);
  try {
    box.object_class = objectClassFromString(readValue<std::string>(node, "class", where));
  } catch (const std::invalid_argument& error) {
    throw DatasetError(fmt::format("{}: {}", where, error.what()));
  }
  box.x = readValue<double>(node, "x", where);
  box.y = readValue<double>(node, "y", where);
  box.z = readValue<double>(node, "z", where);
  box.length = readValue<double>(node, "length", where);
  box.width = readValue<double>(node, "width", where);
  box.height = readValue<double>(node, "height", where);
  box.yaw = readValue<double>(node, "yaw", where);
  box.speed = readValue<double>(node, "speed", where);
  return box;
}

}  // namespace lidar_sim
