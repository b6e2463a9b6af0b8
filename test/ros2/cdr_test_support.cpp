#include "cdr_test_support.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "ros2_core/cdr_member_layout.hpp"

namespace cdr_test {

namespace ts = rosidl_typesupport_introspection_cpp;
using ros2_core::MessageMember;

namespace {

bool is_integer(std::uint8_t type_id) {
  switch (type_id) {
    case ts::ROS_TYPE_OCTET:
    case ts::ROS_TYPE_CHAR:
    case ts::ROS_TYPE_UINT8:
    case ts::ROS_TYPE_INT8:
    case ts::ROS_TYPE_UINT16:
    case ts::ROS_TYPE_INT16:
    case ts::ROS_TYPE_UINT32:
    case ts::ROS_TYPE_INT32:
    case ts::ROS_TYPE_UINT64:
    case ts::ROS_TYPE_INT64:
      return true;
    default:
      return false;
  }
}

class Filler {
 public:
  explicit Filler(std::uint32_t seed) : rng_{seed} {}

  void message(void* object, const MessageMembers& members) {
    auto* base = static_cast<std::uint8_t*>(object);
    for (std::uint32_t i = 0; i < members.member_count_; ++i) {
      const MessageMember& member = members.members_[i];
      field(base + member.offset_, member);
    }
  }

 private:
  void field(void* field, const MessageMember& member) {
    if (!member.is_array_) {
      value(field, member);
      return;
    }
    std::size_t count = member.array_size_;
    if (ros2_core::is_sequence(member)) {
      const bool bytes =
          member.type_id_ == ts::ROS_TYPE_UINT8 || member.type_id_ == ts::ROS_TYPE_OCTET;
      count = bytes ? rng_() % 41 : rng_() % 4;
      if (member.is_upper_bound_) {
        count = rng_() % (member.array_size_ + 1);
      }
      member.resize_function(field, count);
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (member.type_id_ == ts::ROS_TYPE_BOOLEAN) {
        const bool element = (rng_() & 1U) != 0;
        member.assign_function(field, i, &element);
      } else {
        value(member.get_function(field, i), member);
      }
    }
  }

  void value(void* value, const MessageMember& member) {
    switch (member.type_id_) {
      case ts::ROS_TYPE_BOOLEAN:
        *static_cast<bool*>(value) = (rng_() & 1U) != 0;
        return;
      case ts::ROS_TYPE_FLOAT:
        *static_cast<float*>(value) = static_cast<float>(real());
        return;
      case ts::ROS_TYPE_DOUBLE:
        *static_cast<double*>(value) = real();
        return;
      case ts::ROS_TYPE_STRING: {
        std::size_t length = rng_() % 9;
        if (member.string_upper_bound_ > 0 && length > member.string_upper_bound_) {
          length = member.string_upper_bound_;
        }
        static const char kChars[] = "abcXYZ019 _/\"\\\n\t.";
        std::string text;
        for (std::size_t i = 0; i < length; ++i) {
          text += kChars[rng_() % (sizeof(kChars) - 1)];
        }
        *static_cast<std::string*>(value) = text;
        return;
      }
      case ts::ROS_TYPE_WSTRING:
        *static_cast<std::u16string*>(value) = u"w\u00e9\u4e2d";
        return;
      case ts::ROS_TYPE_MESSAGE:
        message(value, ros2_core::nested_members(member));
        return;
      default: {
        const std::uint64_t bits = (static_cast<std::uint64_t>(rng_()) << 32) | rng_();
        std::memcpy(value, &bits, ros2_core::cdr_primitive_size(member));  // little-endian host
      }
    }
  }

  double real() {
    switch (rng_() % 8) {
      case 0:
        return 0.0;
      case 1:
        return -0.0;
      case 2:
        return 1e300 * (rng_() % 2 == 0 ? 1 : -1);
      default:
        return std::uniform_real_distribution<double>(-1e4, 1e4)(rng_);
    }
  }

  std::mt19937 rng_;
};

void json_string(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

class Printer {
 public:
  void message(const void* object, const MessageMembers& members) {
    const auto* base = static_cast<const std::uint8_t*>(object);
    out_ += '{';
    bool first = true;
    for (std::uint32_t i = 0; i < members.member_count_; ++i) {
      const MessageMember& member = members.members_[i];
      if (!first) {
        out_ += ',';
      }
      first = false;
      json_string(out_, member.name_);
      out_ += ':';
      field(base + member.offset_, member);
    }
    out_ += '}';
  }

  std::string take() { return std::move(out_); }

 private:
  void field(const void* field, const MessageMember& member) {
    if (!member.is_array_) {
      value(field, member);
      return;
    }
    const std::size_t count =
        ros2_core::is_sequence(member) ? member.size_function(field) : member.array_size_;
    out_ += '[';
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) {
        out_ += ',';
      }
      if (member.type_id_ == ts::ROS_TYPE_BOOLEAN) {
        bool element = false;
        member.fetch_function(field, i, &element);
        out_ += element ? "true" : "false";
      } else {
        value(member.get_const_function(field, i), member);
      }
    }
    out_ += ']';
  }

  void value(const void* value, const MessageMember& member) {
    switch (member.type_id_) {
      case ts::ROS_TYPE_BOOLEAN:
        out_ += *static_cast<const bool*>(value) ? "true" : "false";
        return;
      case ts::ROS_TYPE_FLOAT:
        real(*static_cast<const float*>(value));
        return;
      case ts::ROS_TYPE_DOUBLE:
        real(*static_cast<const double*>(value));
        return;
      case ts::ROS_TYPE_STRING:
        json_string(out_, *static_cast<const std::string*>(value));
        return;
      case ts::ROS_TYPE_MESSAGE:
        message(value, ros2_core::nested_members(member));
        return;
      default:
        if (!is_integer(member.type_id_)) {
          throw std::invalid_argument(std::string("cannot print member ") + member.name_);
        }
        integer(value, member);
    }
  }

  void integer(const void* value, const MessageMember& member) {
    const std::size_t size = ros2_core::cdr_primitive_size(member);
    const bool is_signed =
        member.type_id_ == ts::ROS_TYPE_INT8 || member.type_id_ == ts::ROS_TYPE_INT16 ||
        member.type_id_ == ts::ROS_TYPE_INT32 || member.type_id_ == ts::ROS_TYPE_INT64;
    std::uint64_t bits = 0;
    std::memcpy(&bits, value, size);  // little-endian host
    char text[32];
    if (is_signed) {
      const unsigned shift = static_cast<unsigned>(64 - 8 * size);
      const auto number = static_cast<std::int64_t>(bits << shift) >> shift;
      std::snprintf(text, sizeof(text), "\"%" PRId64 "\"", number);
    } else {
      std::snprintf(text, sizeof(text), "\"%" PRIu64 "\"", bits);
    }
    out_ += text;
  }

  void real(double number) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &number, sizeof(bits));
    char text[32];
    std::snprintf(text, sizeof(text), "\"d:%016" PRIx64 "\"", bits);
    out_ += text;
  }

  std::string out_;
};

}  // namespace

MessageBox::MessageBox(const MessageMembers& members)
    : members_{&members},
      storage_{new std::max_align_t[(members.size_of_ + sizeof(std::max_align_t) - 1) /
                                    sizeof(std::max_align_t)]} {
  members.init_function(storage_.get(), rosidl_runtime_cpp::MessageInitialization::ALL);
}

MessageBox::~MessageBox() {
  members_->fini_function(storage_.get());
}

void fill(void* message, const MessageMembers& members, std::uint32_t seed) {
  Filler(seed).message(message, members);
}

std::string canonical_json(const void* message, const MessageMembers& members) {
  Printer printer;
  printer.message(message, members);
  return printer.take();
}

std::string to_hex(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::vector<std::uint8_t> from_hex(const std::string& hex) {
  if (hex.size() % 2 != 0) {
    throw std::invalid_argument("odd-length hex text");
  }
  std::vector<std::uint8_t> out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  }
  return out;
}

}  // namespace cdr_test
