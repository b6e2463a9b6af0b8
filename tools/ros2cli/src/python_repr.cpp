#include "ros2cli/python_repr.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "ros2cli/unicode_text.hpp"
#include "ros2cli/yaml_scalar.hpp"

namespace ros2cli {

namespace {

namespace ts = rosidl_typesupport_introspection_cpp;

template <typename T>
T load(const void* value) {
  T result;
  std::memcpy(&result, value, sizeof(T));
  return result;
}

const MessageMembers& nested(const MessageMember& member) {
  return *static_cast<const MessageMembers*>(member.members_->data);
}

bool isSequence(const MessageMember& member) {
  return member.is_array_ && (member.array_size_ == 0 || member.is_upper_bound_);
}

// The array module's type code of a numeric element type; 0 for the rest.
char typeCode(std::uint8_t type_id) {
  switch (type_id) {
    case ts::ROS_TYPE_FLOAT:
      return 'f';
    case ts::ROS_TYPE_DOUBLE:
      return 'd';
    case ts::ROS_TYPE_INT8:
      return 'b';
    case ts::ROS_TYPE_UINT8:
      return 'B';
    case ts::ROS_TYPE_INT16:
      return 'h';
    case ts::ROS_TYPE_UINT16:
      return 'H';
    case ts::ROS_TYPE_INT32:
      return 'i';
    case ts::ROS_TYPE_UINT32:
      return 'I';
    case ts::ROS_TYPE_INT64:
      return 'q';
    case ts::ROS_TYPE_UINT64:
      return 'Q';
    default:
      return 0;
  }
}

std::string bytesRepr(std::uint8_t byte) {
  if (byte == '\\' || byte == '\'') {
    return std::string("b'\\") + static_cast<char>(byte) + "'";
  }
  if (byte >= 0x20 && byte < 0x7f) {
    return std::string("b'") + static_cast<char>(byte) + "'";
  }
  char text[8];
  std::snprintf(text, sizeof(text), "b'\\x%02x'", byte);
  return text;
}

std::string message(const void* object, const MessageMembers& members);

std::string scalar(const void* value, const MessageMember& member) {
  switch (member.type_id_) {
    case ts::ROS_TYPE_BOOLEAN:
      return load<bool>(value) ? "True" : "False";
    case ts::ROS_TYPE_FLOAT:
      return pythonFloat(static_cast<double>(load<float>(value)));
    case ts::ROS_TYPE_DOUBLE:
      return pythonFloat(load<double>(value));
    case ts::ROS_TYPE_LONG_DOUBLE:
      return pythonFloat(static_cast<double>(load<long double>(value)));
    case ts::ROS_TYPE_OCTET:
      return bytesRepr(load<std::uint8_t>(value));
    case ts::ROS_TYPE_CHAR:
      return pythonString(std::string(1, load<char>(value)));
    case ts::ROS_TYPE_WCHAR:
      return pythonString(encodeUtf8(std::u32string(1, load<char16_t>(value))));
    case ts::ROS_TYPE_UINT8:
      return std::to_string(load<std::uint8_t>(value));
    case ts::ROS_TYPE_INT8:
      return std::to_string(load<std::int8_t>(value));
    case ts::ROS_TYPE_UINT16:
      return std::to_string(load<std::uint16_t>(value));
    case ts::ROS_TYPE_INT16:
      return std::to_string(load<std::int16_t>(value));
    case ts::ROS_TYPE_UINT32:
      return std::to_string(load<std::uint32_t>(value));
    case ts::ROS_TYPE_INT32:
      return std::to_string(load<std::int32_t>(value));
    case ts::ROS_TYPE_UINT64:
      return std::to_string(load<std::uint64_t>(value));
    case ts::ROS_TYPE_INT64:
      return std::to_string(load<std::int64_t>(value));
    case ts::ROS_TYPE_STRING:
      return pythonString(*static_cast<const std::string*>(value));
    case ts::ROS_TYPE_WSTRING:
      return pythonString(encodeUtf8(decodeUtf16(*static_cast<const std::u16string*>(value))));
    case ts::ROS_TYPE_MESSAGE:
      return message(value, nested(member));
    default:
      throw std::invalid_argument(std::string("member '") + member.name_ +
                                  "' has unknown type id " + std::to_string(member.type_id_));
  }
}

std::string element(const void* field, std::size_t index, const MessageMember& member) {
  if (member.type_id_ == ts::ROS_TYPE_MESSAGE) {
    return message(member.get_const_function(field, index), nested(member));
  }
  // fetch_function copies out, which std::vector<bool> needs.
  if (member.type_id_ == ts::ROS_TYPE_STRING) {
    std::string value;
    member.fetch_function(field, index, &value);
    return scalar(&value, member);
  }
  if (member.type_id_ == ts::ROS_TYPE_WSTRING) {
    std::u16string value;
    member.fetch_function(field, index, &value);
    return scalar(&value, member);
  }
  alignas(16) unsigned char value[16] = {};
  member.fetch_function(field, index, value);
  return scalar(value, member);
}

std::string array(const void* field, const MessageMember& member) {
  const std::size_t count = isSequence(member) ? member.size_function(field) : member.array_size_;
  std::string items;
  for (std::size_t i = 0; i < count; ++i) {
    items += (i == 0 ? "" : ", ") + element(field, i, member);
  }
  const char code = typeCode(member.type_id_);
  if (code == 0) {
    return "[" + items + "]";
  }
  // Python messages hold numeric sequences in array.array and fixed arrays in numpy arrays.
  if (isSequence(member)) {
    return std::string("array('") + code + "', [" + items + "])";
  }
  return "array([" + items + "])";
}

std::string message(const void* object, const MessageMembers& members) {
  std::string path = members.message_namespace_;
  for (std::size_t at = path.find("::"); at != std::string::npos; at = path.find("::")) {
    path.replace(at, 2, ".");
  }
  std::string text = path + "." + members.message_name_ + "(";
  bool first = true;
  for (std::uint32_t i = 0; i < members.member_count_; ++i) {
    const MessageMember& member = members.members_[i];
    // rosidl's placeholder in empty messages has no Python attribute.
    if (std::strcmp(member.name_, "structure_needs_at_least_one_member") == 0) {
      continue;
    }
    const void* field = static_cast<const unsigned char*>(object) + member.offset_;
    text += (first ? "" : ", ") + std::string(member.name_) + "=" +
            (member.is_array_ ? array(field, member) : scalar(field, member));
    first = false;
  }
  return text + ")";
}

}  // namespace

std::string pythonRepr(const void* message_object, const MessageMembers& members) {
  return message(message_object, members);
}

std::string pythonFloat(double value) {
  std::string text = yamlFloat(value);
  if (text == ".inf") {
    return "inf";
  }
  if (text == "-.inf") {
    return "-inf";
  }
  if (text == ".nan") {
    return "nan";
  }
  // YAML's float needs a point in the mantissa; Python's repr has none there ("1e-05").
  const auto exponent = text.find('e');
  if (exponent != std::string::npos && exponent >= 2 && text.compare(exponent - 2, 2, ".0") == 0) {
    text.erase(exponent - 2, 2);
  }
  return text;
}

std::string pythonString(const std::string& text) {
  const bool has_single = text.find('\'') != std::string::npos;
  const bool has_double = text.find('"') != std::string::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  std::string out(1, quote);
  for (char32_t c : decodeUtf8(text)) {
    if (c == static_cast<char32_t>(quote) || c == U'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == U'\n') {
      out += "\\n";
    } else if (c == U'\r') {
      out += "\\r";
    } else if (c == U'\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += encodeUtf8(std::u32string(1, c));
    }
  }
  out += quote;
  return out;
}

}  // namespace ros2cli
