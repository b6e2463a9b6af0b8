#include "yaml_fields.hpp"

#include <fmt/format.h>

#include <cmath>

#include "lidar_sim/scenario.hpp"

namespace lidar_sim {

namespace {

std::string describe(const YAML::Node& value) {
  if (value.IsScalar()) {
    return fmt::format("'{}'", value.Scalar());
  }
  if (value.IsSequence()) {
    return "a sequence";
  }
  if (value.IsMap()) {
    return "a mapping";
  }
  return "nothing";
}

}  // namespace

YamlFields::YamlFields(const YAML::Node& node, std::string source, std::string path)
    : node_(node), source_(std::move(source)), path_(std::move(path)) {
  if (node_.IsDefined() && !node_.IsNull() && !node_.IsMap()) {
    failAt(source_, path_.empty() ? "document" : path_, node_,
           fmt::format("expected a mapping of keys, got {}", describe(node_)));
  }
}

void YamlFields::failAt(const std::string& source, const std::string& path, const YAML::Node& node,
                        const std::string& reason) {
  const YAML::Mark mark = node.IsDefined() ? node.Mark() : YAML::Mark::null_mark();
  if (mark.line >= 0) {
    throw ScenarioError(fmt::format("{}:{}: {}: {}", source, mark.line + 1, path, reason));
  }
  throw ScenarioError(fmt::format("{}: {}: {}", source, path, reason));
}

void YamlFields::fail(const std::string& key, const std::string& reason) const {
  failAt(source_, pathOf(key), has(key) ? node_[key] : node_, reason);
}

std::string YamlFields::pathOf(const std::string& key) const {
  return path_.empty() ? key : path_ + "." + key;
}

bool YamlFields::has(const std::string& key) const {
  return node_.IsMap() && node_[key].IsDefined() && !node_[key].IsNull();
}

YAML::Node YamlFields::child(const std::string& key) const {
  // A missing key of a const node is an invalid handle that throws on use; hand out null instead.
  if (!node_.IsMap() || !node_[key].IsDefined()) {
    return YAML::Node();
  }
  return node_[key];
}

double YamlFields::toNumber(const std::string& key, const YAML::Node& value) const {
  double parsed = 0.0;
  if (!value.IsScalar() || !YAML::convert<double>::decode(value, parsed)) {
    failAt(source_, pathOf(key), value, fmt::format("expected a number, got {}", describe(value)));
  }
  if (!std::isfinite(parsed)) {
    failAt(source_, pathOf(key), value, fmt::format("expected a finite number, got {}", parsed));
  }
  return parsed;
}

double YamlFields::number(const std::string& key) const {
  if (!has(key)) {
    failAt(source_, pathOf(key), node_, "required key is missing");
  }
  return toNumber(key, node_[key]);
}

double YamlFields::number(const std::string& key, double fallback) const {
  return has(key) ? toNumber(key, node_[key]) : fallback;
}

int YamlFields::integer(const std::string& key, int fallback) const {
  if (!has(key)) {
    return fallback;
  }
  const YAML::Node value = node_[key];
  long long parsed = 0;
  if (!value.IsScalar() || !YAML::convert<long long>::decode(value, parsed) ||
      parsed < -2147483647LL || parsed > 2147483647LL) {
    fail(key, fmt::format("expected an integer, got {}", describe(value)));
  }
  return static_cast<int>(parsed);
}

bool YamlFields::boolean(const std::string& key, bool fallback) const {
  if (!has(key)) {
    return fallback;
  }
  bool parsed = false;
  if (!node_[key].IsScalar() || !YAML::convert<bool>::decode(node_[key], parsed)) {
    fail(key, fmt::format("expected true or false, got {}", describe(node_[key])));
  }
  return parsed;
}

std::string YamlFields::text(const std::string& key, const std::string& fallback) const {
  if (!has(key)) {
    return fallback;
  }
  if (!node_[key].IsScalar()) {
    fail(key, fmt::format("expected a text, got {}", describe(node_[key])));
  }
  return node_[key].Scalar();
}

std::vector<double> YamlFields::numbers(const std::string& key, std::size_t expected_size) const {
  if (!has(key)) {
    failAt(source_, pathOf(key), node_, "required key is missing");
  }
  const YAML::Node value = node_[key];
  if (!value.IsSequence() || value.size() == 0 ||
      (expected_size != 0 && value.size() != expected_size)) {
    fail(key,
         expected_size != 0
             ? fmt::format(
                   "expected a sequence of {} numbers, got {}", expected_size,
                   value.IsSequence() ? fmt::format("{} entries", value.size()) : describe(value))
             : fmt::format("expected a non-empty sequence of numbers, got {}", describe(value)));
  }
  std::vector<double> result;
  result.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    result.push_back(toNumber(fmt::format("{}[{}]", key, i), value[i]));
  }
  return result;
}

void YamlFields::rejectUnknown(std::initializer_list<const char*> allowed) const {
  if (!node_.IsMap()) {
    return;
  }
  for (const auto& entry : node_) {
    const std::string key = entry.first.Scalar();
    bool known = false;
    for (const char* name : allowed) {
      known = known || key == name;
    }
    if (!known) {
      std::string list;
      for (const char* name : allowed) {
        list += list.empty() ? name : fmt::format(", {}", name);
      }
      failAt(source_, pathOf(key), entry.first, fmt::format("unknown key (known keys: {})", list));
    }
  }
}

}  // namespace lidar_sim
