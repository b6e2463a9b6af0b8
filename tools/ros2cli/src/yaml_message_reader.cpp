#include "ros2cli/yaml_message_reader.hpp"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <yaml-cpp/yaml.h>
#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "ros2cli/unicode_text.hpp"
#include "ros2cli/yaml_printer.hpp"

namespace ros2cli {

namespace ts = rosidl_typesupport_introspection_cpp;

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
  throw std::invalid_argument((path.empty() ? std::string("message") : path) + ": " + reason);
}

std::string describe(const YAML::Node& node) {
  switch (node.Type()) {
    case YAML::NodeType::Null:
      return "null";
    case YAML::NodeType::Sequence:
      return "a sequence";
    case YAML::NodeType::Map:
      return "a mapping";
    default:
      return "'" + node.Scalar() + "'";
  }
}

// YAML 1.1 integer forms; false when `text` is not an integer. Magnitudes beyond 64 bits saturate,
// which every field's range check then refuses.
bool parseInteger(const std::string& text, bool& negative, std::uint64_t& magnitude) {
  std::string digits;
  for (const char c : text) {
    if (c != '_') {
      digits += c;
    }
  }
  negative = false;
  std::size_t at = 0;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    at = 1;
  }
  int base = 10;
  if (digits.compare(at, 2, "0x") == 0 || digits.compare(at, 2, "0X") == 0) {
    base = 16, at += 2;
  } else if (digits.compare(at, 2, "0b") == 0 || digits.compare(at, 2, "0B") == 0) {
    base = 2, at += 2;
  } else if (digits.compare(at, 2, "0o") == 0 || digits.compare(at, 2, "0O") == 0) {
    base = 8, at += 2;
  } else if (digits.size() > at + 1 && digits[at] == '0') {
    base = 8, at += 1;
  }
  if (at >= digits.size()) {
    return false;
  }
  magnitude = 0;
  for (std::size_t i = at; i < digits.size(); ++i) {
    const char c = digits[i];
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    if (digit >= base) {
      return false;
    }
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) /
                        static_cast<unsigned>(base)) {
      magnitude = std::numeric_limits<std::uint64_t>::max();  // beyond every field's range
      return true;
    }
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  return true;
}

bool parseReal(const std::string& text, double& value) {
  static const char* const kInfinities[] = {".inf", ".Inf", ".INF", "+.inf", "+.Inf", "+.INF"};
  static const char* const kNans[] = {".nan", ".NaN", ".NAN"};
  for (const char* word : kInfinities) {
    if (text == word) {
      value = std::numeric_limits<double>::infinity();
      return true;
    }
    if (text == std::string("-") + (word[0] == '+' ? word + 1 : word)) {
      value = -std::numeric_limits<double>::infinity();
      return true;
    }
  }
  for (const char* word : kNans) {
    if (text == word) {
      value = std::numeric_limits<double>::quiet_NaN();
      return true;
    }
  }
  std::string digits;
  for (const char c : text) {
    if (c != '_') {
      digits += c;
    }
  }
  if (digits.empty() || std::isspace(static_cast<unsigned char>(digits[0])) != 0) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  value = std::strtod(digits.c_str(), &end);
  if (end != digits.c_str() + digits.size()) {
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!parseInteger(text, negative, magnitude)) {
      return false;
    }
    value = negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
  }
  return true;
}

class MessageFiller {
 public:
  void message(const YAML::Node& node, void* message, const MessageMembers& members,
               const std::string& path) {
    if (!node.IsMap()) {
      fail(path, "expected a mapping of field names to values, got " + describe(node));
    }
    auto* base = static_cast<std::uint8_t*>(message);
    for (const auto& entry : node) {
      const std::string name = entry.first.Scalar();
      const MessageMember* member = find(members, name);
      const std::string where = path.empty() ? name : path + "." + name;
      if (member == nullptr) {
        fail(where,
             "no such field in " + typeName(members) + " (fields: " + fieldList(members) + ")");
      }
      field(entry.second, base + member->offset_, *member, where);
    }
  }

 private:
  static std::string typeName(const MessageMembers& members) {
    std::string name = members.message_namespace_;
    for (std::size_t at = name.find("::"); at != std::string::npos; at = name.find("::")) {
      name.replace(at, 2, "/");
    }
    return name + "/" + members.message_name_;
  }

  static bool hidden(const MessageMember& member) {
    return std::strcmp(member.name_, "structure_needs_at_least_one_member") == 0;
  }

  static const MessageMember* find(const MessageMembers& members, const std::string& name) {
    for (std::uint32_t i = 0; i < members.member_count_; ++i) {
      if (name == members.members_[i].name_ && !hidden(members.members_[i])) {
        return &members.members_[i];
      }
    }
    return nullptr;
  }

  static std::string fieldList(const MessageMembers& members) {
    std::string list;
    for (std::uint32_t i = 0; i < members.member_count_; ++i) {
      if (!hidden(members.members_[i])) {
        list += (list.empty() ? "" : ", ") + std::string(members.members_[i].name_);
      }
    }
    return list.empty() ? "none" : list;
  }

  static const MessageMembers& nested(const MessageMember& member) {
    return *static_cast<const MessageMembers*>(member.members_->data);
  }

  void field(const YAML::Node& node, void* field, const MessageMember& member,
             const std::string& path) {
    if (!member.is_array_) {
      value(node, field, member, path);
      return;
    }
    if (!node.IsSequence()) {
      fail(path, "expected a sequence of " + elementTypeName(member) + ", got " + describe(node));
    }
    const std::size_t count = node.size();
    const bool sequence = member.array_size_ == 0 || member.is_upper_bound_;
    if (!sequence && count != member.array_size_) {
      fail(path, "expected exactly " + std::to_string(member.array_size_) + " elements, got " +
                     std::to_string(count));
    }
    if (sequence && member.is_upper_bound_ && count > member.array_size_) {
      fail(path, std::to_string(count) + " elements exceed the bound of " +
                     std::to_string(member.array_size_));
    }
    if (sequence) {
      member.resize_function(field, count);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const std::string where = path + "[" + std::to_string(i) + "]";
      if (member.type_id_ == ts::ROS_TYPE_MESSAGE) {
        message(node[i], member.get_function(field, i), nested(member), where);
      } else {
        element(node[i], field, i, member, where);
      }
    }
  }

  // assign_function copies in, which std::vector<bool> needs.
  void element(const YAML::Node& node, void* field, std::size_t index, const MessageMember& member,
               const std::string& path) {
    switch (member.type_id_) {
      case ts::ROS_TYPE_STRING: {
        std::string text;
        value(node, &text, member, path);
        member.assign_function(field, index, &text);
        return;
      }
      case ts::ROS_TYPE_WSTRING: {
        std::u16string text;
        value(node, &text, member, path);
        member.assign_function(field, index, &text);
        return;
      }
      default: {
        alignas(16) unsigned char buffer[16] = {};
        value(node, buffer, member, path);
        member.assign_function(field, index, buffer);
      }
    }
  }

  static std::string scalar(const YAML::Node& node, const MessageMember& member,
                            const std::string& path) {
    if (!node.IsScalar()) {
      fail(path, "expected a " + elementTypeName(member) + " value, got " + describe(node));
    }
    return node.Scalar();
  }

  template <typename T>
  static void storeInteger(const YAML::Node& node, void* out, const MessageMember& member,
                           const std::string& path) {
    const std::string text = scalar(node, member, path);
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!parseInteger(text, negative, magnitude)) {
      fail(path, "expected an integer (" + elementTypeName(member) + "), got '" + text + "'");
    }
    const auto lowest = static_cast<std::int64_t>(std::numeric_limits<T>::lowest());
    const auto highest = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    const bool fits =
        negative ? (magnitude == 0 ||
                    (lowest < 0 && magnitude - 1 <= static_cast<std::uint64_t>(-(lowest + 1))))
                 : magnitude <= highest;
    if (!fits) {
      fail(path, text + " is out of range for " + elementTypeName(member) + " (" +
                     std::to_string(lowest) + " to " + std::to_string(highest) + ")");
    }
    const T value = (negative && magnitude > 0)
                        ? static_cast<T>(-static_cast<std::int64_t>(magnitude - 1) - 1)
                        : static_cast<T>(magnitude);
    std::memcpy(out, &value, sizeof(T));
  }

  template <typename T>
  static void storeReal(const YAML::Node& node, void* out, const MessageMember& member,
                        const std::string& path) {
    const std::string text = scalar(node, member, path);
    double value = 0.0;
    if (!parseReal(text, value)) {
      fail(path, "expected a number (" + elementTypeName(member) + "), got '" + text + "'");
    }
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<T>::max()) {
      fail(path, text + " is out of range for " + elementTypeName(member));
    }
    const T stored = static_cast<T>(value);
    std::memcpy(out, &stored, sizeof(T));
  }

  // A byte is a number or, as ros2 topic echo prints it, a one-character string; a quoted digit
  // is that character.
  static void storeCharacter(const YAML::Node& node, void* out, const MessageMember& member,
                             const std::string& path) {
    const std::string text = scalar(node, member, path);
    bool negative = false;
    std::uint64_t magnitude = 0;
    const bool quoted = node.Tag() == "!";
    if (!quoted && parseInteger(text, negative, magnitude)) {
      storeInteger<std::uint8_t>(node, out, member, path);
      return;
    }
    const std::u32string character = decodeUtf8(text);
    if (character.size() != 1 || character[0] > 0xFF) {
      fail(path,
           "expected an integer from 0 to 255 or one character up to U+00FF, got '" + text + "'");
    }
    const auto value = static_cast<std::uint8_t>(character[0]);
    std::memcpy(out, &value, 1);
  }

  static void checkBound(const std::string& text, std::size_t length, const MessageMember& member,
                         const std::string& path) {
    if (member.string_upper_bound_ > 0 && length > member.string_upper_bound_) {
      fail(path, "'" + text + "' is longer than the bound of " +
                     std::to_string(member.string_upper_bound_) + " characters");
    }
  }

  void value(const YAML::Node& node, void* out, const MessageMember& member,
             const std::string& path) {
    switch (member.type_id_) {
      case ts::ROS_TYPE_MESSAGE:
        message(node, out, nested(member), path);
        return;
      case ts::ROS_TYPE_STRING: {
        const std::string text = scalar(node, member, path);
        checkBound(text, text.size(), member, path);
        *static_cast<std::string*>(out) = text;
        return;
      }
      case ts::ROS_TYPE_WSTRING: {
        const std::string text = scalar(node, member, path);
        const std::u16string wide = encodeUtf16(decodeUtf8(text));
        checkBound(text, wide.size(), member, path);
        *static_cast<std::u16string*>(out) = wide;
        return;
      }
      case ts::ROS_TYPE_BOOLEAN: {
        static const char* const kTrue[] = {"true", "True", "TRUE", "yes", "Yes",
                                            "YES",  "on",   "On",   "ON"};
        static const char* const kFalse[] = {"false", "False", "FALSE", "no", "No",
                                             "NO",    "off",   "Off",   "OFF"};
        const std::string text = scalar(node, member, path);
        for (const char* word : kTrue) {
          if (text == word) {
            *static_cast<bool*>(out) = true;
            return;
          }
        }
        for (const char* word : kFalse) {
          if (text == word) {
            *static_cast<bool*>(out) = false;
            return;
          }
        }
        fail(path, "expected true or false, got '" + text + "'");
      }
      case ts::ROS_TYPE_FLOAT:
        storeReal<float>(node, out, member, path);
        return;
      case ts::ROS_TYPE_DOUBLE:
        storeReal<double>(node, out, member, path);
        return;
      case ts::ROS_TYPE_LONG_DOUBLE: {
        double value = 0.0;
        storeReal<double>(node, &value, member, path);
        *static_cast<long double*>(out) = value;
        return;
      }
      case ts::ROS_TYPE_OCTET:
      case ts::ROS_TYPE_CHAR:
        storeCharacter(node, out, member, path);
        return;
      case ts::ROS_TYPE_UINT8:
        storeInteger<std::uint8_t>(node, out, member, path);
        return;
      case ts::ROS_TYPE_INT8:
        storeInteger<std::int8_t>(node, out, member, path);
        return;
      case ts::ROS_TYPE_UINT16:
      case ts::ROS_TYPE_WCHAR:
        storeInteger<std::uint16_t>(node, out, member, path);
        return;
      case ts::ROS_TYPE_INT16:
        storeInteger<std::int16_t>(node, out, member, path);
        return;
      case ts::ROS_TYPE_UINT32:
        storeInteger<std::uint32_t>(node, out, member, path);
        return;
      case ts::ROS_TYPE_INT32:
        storeInteger<std::int32_t>(node, out, member, path);
        return;
      case ts::ROS_TYPE_UINT64:
        storeInteger<std::uint64_t>(node, out, member, path);
        return;
      case ts::ROS_TYPE_INT64:
        storeInteger<std::int64_t>(node, out, member, path);
        return;
      default:
        fail(path, "unsupported type id " + std::to_string(member.type_id_));
    }
  }
};

}  // namespace

void fillMessageFromYaml(const std::string& yaml, void* message, const MessageMembers& members) {
  YAML::Node root;
  try {
    root = YAML::Load(yaml);
  } catch (const YAML::Exception& error) {
    throw std::invalid_argument("not valid YAML: " + std::string(error.what()));
  }
  if (!root.IsDefined() || root.IsNull()) {
    return;
  }
  MessageFiller().message(root, message, members, "");
}

}  // namespace ros2cli
