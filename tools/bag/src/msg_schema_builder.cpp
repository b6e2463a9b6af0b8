#include "bag_io/msg_schema_builder.hpp"

#include <fmt/format.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>

namespace bag_io {
namespace {

namespace fs = std::filesystem;

const std::set<std::string> kPrimitives = {"bool",   "byte",  "char",   "float32", "float64",
                                           "int8",   "uint8", "int16",  "uint16",  "int32",
                                           "uint32", "int64", "uint64", "string",  "wstring"};

const char* const kDelimiter =
    "================================================================================\n";

// "pkg/Type" from "pkg/Type" or "pkg/msg/Type"; empty when `name` is neither.
std::string packageType(const std::string& name) {
  const std::size_t first = name.find('/');
  const std::size_t last = name.rfind('/');
  if (first == std::string::npos || first == 0 || last + 1 == name.size()) {
    return {};
  }
  if (first == last) {
    return name;
  }
  if (name.compare(first, last - first + 1, "/msg/") != 0) {
    return {};
  }
  return name.substr(0, first) + name.substr(last);
}

// The message types the fields of `text` (the .msg of a type in `package`) use, in order.
std::vector<std::string> fieldTypes(const std::string& text, const std::string& package) {
  std::vector<std::string> types;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string type;
    if (!(words >> type) || type[0] == '#') {
      continue;
    }
    // Arrays (T[], T[3], T[<=3]) and bounded strings (string<=8) name their element type.
    type = type.substr(0, std::min(type.find('['), type.find("<=")));
    if (kPrimitives.count(type) > 0) {
      continue;
    }
    types.push_back(type.find('/') == std::string::npos ? package + "/" + type : packageType(type));
  }
  return types;
}

}  // namespace

MsgSchemaBuilder::MsgSchemaBuilder(std::vector<std::string> share_roots)
    : share_roots_(std::move(share_roots)) {}

MsgSchemaBuilder MsgSchemaBuilder::fromAmentPrefixPath() {
  std::vector<std::string> roots;
  const char* path = std::getenv("AMENT_PREFIX_PATH");
  std::istringstream prefixes(path != nullptr ? path : "");
  std::string prefix;
  while (std::getline(prefixes, prefix, ':')) {
    if (!prefix.empty()) {
      roots.push_back((fs::path(prefix) / "share").string());
    }
  }
  return MsgSchemaBuilder(std::move(roots));
}

const std::string& MsgSchemaBuilder::definition(const std::string& package_type) {
  if (const auto it = texts_.find(package_type); it != texts_.end()) {
    return it->second;
  }
  const std::size_t slash = package_type.find('/');
  const std::string file =
      package_type.substr(0, slash) + "/msg/" + package_type.substr(slash + 1) + ".msg";
  std::string looked;
  for (const auto& root : share_roots_) {
    const fs::path candidate = fs::path(root) / file;
    std::ifstream in(candidate);
    if (in) {
      std::string text(std::istreambuf_iterator<char>(in), {});
      if (text.empty() || text.back() != '\n') {
        text += '\n';
      }
      return texts_.emplace(package_type, std::move(text)).first->second;
    }
    looked += (looked.empty() ? "" : ", ") + candidate.string();
  }
  throw std::invalid_argument(fmt::format("no .msg file for {} (looked for {})", package_type,
                                          looked.empty() ? "it in no share folder" : looked));
}

std::string MsgSchemaBuilder::schemaText(const std::string& type) {
  const std::string root = packageType(type);
  if (root.empty()) {
    throw std::invalid_argument(
        fmt::format("'{}' is not a message type name like sensor_msgs/msg/PointCloud2", type));
  }
  std::string text = definition(root);
  std::set<std::string> seen{root};
  std::function<void(const std::string&)> append = [&](const std::string& package_type) {
    const std::string package = package_type.substr(0, package_type.find('/'));
    for (const auto& dependency : fieldTypes(definition(package_type), package)) {
      if (dependency.empty()) {
        throw std::invalid_argument(
            fmt::format("{} has a field of a malformed type name", package_type));
      }
      if (!seen.insert(dependency).second) {
        continue;
      }
      text += kDelimiter;
      text += "MSG: " + dependency + "\n";
      text += definition(dependency);
      append(dependency);
    }
  };
  append(root);
  return text;
}

}  // namespace bag_io
