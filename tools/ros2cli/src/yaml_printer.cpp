#include "ros2cli/yaml_printer.hpp"

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "ros2cli/unicode_text.hpp"
#include "ros2cli/yaml_scalar.hpp"

namespace ros2cli {

namespace ts = rosidl_typesupport_introspection_cpp;

namespace {

// rosidl gives messages without fields this member so that they have a size; Python's message
// classes do not show it.
constexpr const char* kPlaceholderMember = "structure_needs_at_least_one_member";

bool isPlaceholder(const MessageMember& member) {
  return std::strcmp(member.name_, kPlaceholderMember) == 0;
}

const MessageMembers& nested(const MessageMember& member) {
  if (member.members_ == nullptr || member.members_->data == nullptr) {
    throw std::invalid_argument(std::string("member '") + member.name_ +
                                "' has no nested description");
  }
  return *static_cast<const MessageMembers*>(member.members_->data);
}

bool hasVisibleMembers(const MessageMembers& members) {
  for (std::uint32_t i = 0; i < members.member_count_; ++i) {
    if (!isPlaceholder(members.members_[i])) {
      return true;
    }
  }
  return false;
}

bool isSequence(const MessageMember& member) {
  return member.is_array_ && (member.array_size_ == 0 || member.is_upper_bound_);
}

template <typename T>
T load(const void* value) {
  T out;
  std::memcpy(&out, value, sizeof(T));
  return out;
}

class YamlWriter {
 public:
  explicit YamlWriter(const YamlPrintOptions& options) : options_{options} {}

  // The fields of one message as a block mapping with keys at column `indent`; when `after_dash`
  // the first key goes on the current line, right after "- ".
  void mapping(const void* message, const MessageMembers& members, std::size_t indent,
               bool after_dash) {
    const auto* base = static_cast<const std::uint8_t*>(message);
    bool first = true;
    for (std::uint32_t i = 0; i < members.member_count_; ++i) {
      const MessageMember& member = members.members_[i];
      if (isPlaceholder(member)) {
        continue;
      }
      if (!(first && after_dash)) {
        out_.append(indent, ' ');
      }
      first = false;
      out_ += member.name_;
      out_ += ':';
      field(base + member.offset_, member, indent);
    }
  }

  std::string take() { return std::move(out_); }

 private:
  void field(const void* field, const MessageMember& member, std::size_t indent) {
    if (member.is_array_ && options_.no_arr) {
      out_ += ' ';
      out_ += yamlString(decodeUtf8(abbreviation(field, member)), indent + 2);
      out_ += '\n';
      return;
    }
    if (member.is_array_) {
      const std::size_t count =
          isSequence(member) ? member.size_function(field) : member.array_size_;
      if (count == 0) {
        out_ += " []\n";
        return;
      }
      out_ += '\n';
      const bool truncated = options_.truncate_length && count > *options_.truncate_length;
      const std::size_t shown = truncated ? *options_.truncate_length : count;
      for (std::size_t i = 0; i < shown; ++i) {
        out_.append(indent, ' ');
        out_ += "- ";
        element(field, i, member, indent);
      }
      if (truncated) {
        out_.append(indent, ' ');
        out_ += "- '...'\n";
      }
      return;
    }
    if (member.type_id_ == ts::ROS_TYPE_MESSAGE) {
      const MessageMembers& members = nested(member);
      if (!hasVisibleMembers(members)) {
        out_ += " {}\n";
        return;
      }
      out_ += '\n';
      mapping(field, members, indent + 2, false);
      return;
    }
    out_ += ' ';
    out_ += scalar(field, member, indent + 2);
    out_ += '\n';
  }

  // Element `index` of an array after its "- ", the dash at column `indent`.
  void element(const void* field, std::size_t index, const MessageMember& member,
               std::size_t indent) {
    if (member.type_id_ == ts::ROS_TYPE_MESSAGE) {
      const MessageMembers& members = nested(member);
      if (!hasVisibleMembers(members)) {
        out_ += "{}\n";
        return;
      }
      mapping(member.get_const_function(field, index), members, indent + 2, true);
      return;
    }
    // fetch_function copies out, which std::vector<bool> needs; the largest element is a string.
    switch (member.type_id_) {
      case ts::ROS_TYPE_STRING: {
        std::string value;
        member.fetch_function(field, index, &value);
        out_ += scalar(&value, member, indent + 2);
        break;
      }
      case ts::ROS_TYPE_WSTRING: {
        std::u16string value;
        member.fetch_function(field, index, &value);
        out_ += scalar(&value, member, indent + 2);
        break;
      }
      default: {
        alignas(16) unsigned char value[16] = {};
        member.fetch_function(field, index, value);
        out_ += scalar(value, member, indent + 2);
      }
    }
    out_ += '\n';
  }

  std::string text(std::u32string value, std::size_t indent) const {
    if (options_.truncate_length && value.size() > *options_.truncate_length) {
      value.resize(*options_.truncate_length);
      value += U"...";
    }
    return yamlString(value, indent);
  }

  std::string scalar(const void* value, const MessageMember& member, std::size_t indent) const {
    switch (member.type_id_) {
      case ts::ROS_TYPE_BOOLEAN:
        return load<bool>(value) ? "true" : "false";
      case ts::ROS_TYPE_FLOAT:
        return yamlFloat(static_cast<double>(load<float>(value)));
      case ts::ROS_TYPE_DOUBLE:
        return yamlFloat(load<double>(value));
      case ts::ROS_TYPE_LONG_DOUBLE:
        return yamlFloat(static_cast<double>(load<long double>(value)));
      case ts::ROS_TYPE_OCTET:
        // Python holds a byte as bytes, which becomes a one-character string.
        return text(std::u32string(1, load<std::uint8_t>(value)), indent);
      case ts::ROS_TYPE_CHAR:
        return text(std::u32string(1, load<unsigned char>(value)), indent);
      case ts::ROS_TYPE_WCHAR:
        return text(std::u32string(1, load<char16_t>(value)), indent);
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
        return text(decodeUtf8(*static_cast<const std::string*>(value)), indent);
      case ts::ROS_TYPE_WSTRING:
        return text(decodeUtf16(*static_cast<const std::u16string*>(value)), indent);
      default:
        throw std::invalid_argument(std::string("member '") + member.name_ +
                                    "' has unknown type id " + std::to_string(member.type_id_));
    }
  }

  static std::string abbreviation(const void* field, const MessageMember& member) {
    const std::string type = elementTypeName(member);
    if (!isSequence(member)) {
      return "<array type: " + type + "[" + std::to_string(member.array_size_) + "]>";
    }
    const std::string length = std::to_string(member.size_function(field));
    if (member.is_upper_bound_) {
      return "<sequence type: " + type + "[" + std::to_string(member.array_size_) +
             "], length: " + length + ">";
    }
    return "<sequence type: " + type + ", length: " + length + ">";
  }

  const YamlPrintOptions& options_;
  std::string out_;
};

}  // namespace

std::string elementTypeName(const MessageMember& member) {
  switch (member.type_id_) {
    case ts::ROS_TYPE_FLOAT:
      return "float";
    case ts::ROS_TYPE_DOUBLE:
      return "double";
    case ts::ROS_TYPE_LONG_DOUBLE:
      return "long double";
    case ts::ROS_TYPE_CHAR:
      return "char";
    case ts::ROS_TYPE_WCHAR:
      return "wchar";
    case ts::ROS_TYPE_BOOLEAN:
      return "boolean";
    case ts::ROS_TYPE_OCTET:
      return "octet";
    case ts::ROS_TYPE_UINT8:
      return "uint8";
    case ts::ROS_TYPE_INT8:
      return "int8";
    case ts::ROS_TYPE_UINT16:
      return "uint16";
    case ts::ROS_TYPE_INT16:
      return "int16";
    case ts::ROS_TYPE_UINT32:
      return "uint32";
    case ts::ROS_TYPE_INT32:
      return "int32";
    case ts::ROS_TYPE_UINT64:
      return "uint64";
    case ts::ROS_TYPE_INT64:
      return "int64";
    case ts::ROS_TYPE_STRING:
    case ts::ROS_TYPE_WSTRING: {
      const std::string base = member.type_id_ == ts::ROS_TYPE_STRING ? "string" : "wstring";
      if (member.string_upper_bound_ > 0) {
        return base + "<" + std::to_string(member.string_upper_bound_) + ">";
      }
      return base;
    }
    case ts::ROS_TYPE_MESSAGE: {
      const MessageMembers& members = nested(member);
      std::string name = members.message_namespace_;
      for (std::size_t at = name.find("::"); at != std::string::npos; at = name.find("::")) {
        name.replace(at, 2, "/");
      }
      return name + "/" + members.message_name_;
    }
    default:
      return "unknown";
  }
}

std::string messageToYaml(const void* message, const MessageMembers& members,
                          const YamlPrintOptions& options) {
  if (!hasVisibleMembers(members)) {
    return "{}\n---\n";
  }
  YamlWriter writer(options);
  writer.mapping(message, members, 0, false);
  return writer.take() + "---\n";
}

}  // namespace ros2cli
