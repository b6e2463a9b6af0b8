#include "ros2cli/interface_name.hpp"

#include <cctype>
#include <stdexcept>
#include <vector>

namespace ros2cli {

namespace {

bool isIdentifier(const std::string& text) {
  if (text.empty() || std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
    return false;
  }
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
      return false;
    }
  }
  return true;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end = text.find(separator); end != std::string::npos;
       end = text.find(separator, start)) {
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

}  // namespace

InterfaceName parseInterfaceName(const std::string& text, const std::string& kind) {
  const std::string expected = "expected 'pkg/" + kind + "/Type' or 'pkg/Type'";
  const std::vector<std::string> parts = split(text, '/');
  InterfaceName name;
  if (parts.size() == 2) {
    name = {parts[0], kind, parts[1]};
  } else if (parts.size() == 3) {
    if (parts[1] != kind) {
      throw std::invalid_argument("'" + text + "' is not a " + kind + " type name: " + expected);
    }
    name = {parts[0], parts[1], parts[2]};
  } else {
    throw std::invalid_argument("'" + text + "' is not a " + kind + " type name: " + expected);
  }
  if (!isIdentifier(name.package)) {
    throw std::invalid_argument("'" + text + "': package name '" + name.package +
                                "' is not an identifier");
  }
  if (!isIdentifier(name.type) || std::isupper(static_cast<unsigned char>(name.type[0])) == 0) {
    throw std::invalid_argument("'" + text + "': type name '" + name.type +
                                "' must be an identifier starting with an upper-case letter");
  }
  return name;
}

}  // namespace ros2cli
