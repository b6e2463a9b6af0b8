// Typed, checked access to the keys of one YAML mapping of a scenario file.
//
// Every failure throws ScenarioError with the source name, the key's path in the document (e.g.
// "people[2].path") and, where yaml-cpp knows it, the line, so that a broken file is fixed by
// reading one message. Holds a copy of the node handle; the document must outlive it.
#pragma once

#include <yaml-cpp/yaml.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace lidar_sim {

class YamlFields {
 public:
  // `node` must be a mapping or absent/null (then every key is absent).
  YamlFields(const YAML::Node& node, std::string source, std::string path);

  bool has(const std::string& key) const;
  double number(const std::string& key) const;
  double number(const std::string& key, double fallback) const;
  int integer(const std::string& key, int fallback) const;
  bool boolean(const std::string& key, bool fallback) const;
  std::string text(const std::string& key, const std::string& fallback) const;
  // A sequence of numbers; `expected_size` 0 accepts any non-empty length.
  std::vector<double> numbers(const std::string& key, std::size_t expected_size) const;
  // The raw child (for nested mappings and sequences); absent children are null nodes.
  YAML::Node child(const std::string& key) const;
  std::string pathOf(const std::string& key) const;
  const std::string& source() const { return source_; }

  // Rejects keys outside `allowed`, which catches misspelt keys that would silently fall back.
  void rejectUnknown(std::initializer_list<const char*> allowed) const;

  [[noreturn]] void fail(const std::string& key, const std::string& reason) const;
  [[noreturn]] static void failAt(const std::string& source, const std::string& path,
                                  const YAML::Node& node, const std::string& reason);

 private:
  double toNumber(const std::string& key, const YAML::Node& value) const;

  YAML::Node node_;
  std::string source_;
  std::string path_;
};

}  // namespace lidar_sim
