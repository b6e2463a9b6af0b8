// Member kinds no generated message uses (wide strings and characters, bounded strings, long
// double), exercised through a type described by hand the way rosidl describes one.
#include <gtest/gtest.h>

#include <cstddef>
#include <new>
#include <rosidl_typesupport_introspection_cpp/field_types.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "ros2_core/cdr_serialization.hpp"

namespace {

namespace ts = rosidl_typesupport_introspection_cpp;
using Bytes = std::vector<std::uint8_t>;

struct Synthetic {
  std::u16string name;
  std::vector<std::u16string> names;
  std::string bounded;  // string<=3
  char16_t letter{};
  long double ratio{};
};

using Names = std::vector<std::u16string>;

ts::MessageMember scalar(const char* name, std::uint8_t type, std::size_t offset) {
  ts::MessageMember m{};
  m.name_ = name;
  m.type_id_ = type;
  m.offset_ = static_cast<std::uint32_t>(offset);
  return m;
}

std::vector<ts::MessageMember> synthetic_members(bool with_long_double) {
  std::vector<ts::MessageMember> members;
  members.push_back(scalar("name", ts::ROS_TYPE_WSTRING, offsetof(Synthetic, name)));
  ts::MessageMember names = scalar("names", ts::ROS_TYPE_WSTRING, offsetof(Synthetic, names));
  names.is_array_ = true;
  names.size_function = [](const void* v) { return static_cast<const Names*>(v)->size(); };
  names.get_const_function = [](const void* v, std::size_t i) -> const void* {
    return &(*static_cast<const Names*>(v))[i];
  };
  names.get_function = [](void* v, std::size_t i) -> void* {
    return &(*static_cast<Names*>(v))[i];
  };
  names.resize_function = [](void* v, std::size_t n) { static_cast<Names*>(v)->resize(n); };
  members.push_back(names);
  ts::MessageMember bounded = scalar("bounded", ts::ROS_TYPE_STRING, offsetof(Synthetic, bounded));
  bounded.string_upper_bound_ = 3;
  members.push_back(bounded);
  members.push_back(scalar("letter", ts::ROS_TYPE_WCHAR, offsetof(Synthetic, letter)));
  if (with_long_double) {
    members.push_back(scalar("ratio", ts::ROS_TYPE_LONG_DOUBLE, offsetof(Synthetic, ratio)));
  }
  return members;
}

ts::MessageMembers describe(const std::vector<ts::MessageMember>& members) {
  ts::MessageMembers type{};
  type.message_namespace_ = "test::msg";
  type.message_name_ = "Synthetic";
  type.member_count_ = static_cast<std::uint32_t>(members.size());
  type.size_of_ = sizeof(Synthetic);
  type.members_ = members.data();
  type.init_function = [](void* p, rosidl_runtime_cpp::MessageInitialization) {
    new (p) Synthetic();
  };
  type.fini_function = [](void* p) { static_cast<Synthetic*>(p)->~Synthetic(); };
  return type;
}

TEST(CdrSyntheticType, WideStringsAndCharactersAsRmwCycloneddsWritesThem) {
  const auto members = synthetic_members(false);
  const auto type = describe(members);
  Synthetic message;
  message.name = u"h\u00e9";
  message.names = {u"a"};
  message.bounded = "ab";
  message.letter = u'\u4e2d';
  const Bytes expected{0,    1,   0, 0,                   // header
                       2,    0,   0, 0,                   // name: two UTF-16 units, no terminator
                       'h',  0,   0, 0, 0xe9, 0,   0, 0,  // each unit in 4 bytes
                       1,    0,   0, 0,                   // names: one element
                       1,    0,   0, 0, 'a',  0,   0, 0,  // "a"
                       3,    0,   0, 0, 'a',  'b', 0,     // bounded: length with NUL
                       0,                                 // padding to 2
                       0x2d, 0x4e};                       // letter
  const Bytes bytes = ros2_core::serialize(&message, type);
  EXPECT_EQ(bytes, expected);

  Synthetic decoded;
  ros2_core::deserialize(bytes, &decoded, type);
  EXPECT_EQ(decoded.name, message.name);
  EXPECT_EQ(decoded.names, message.names);
  EXPECT_EQ(decoded.bounded, message.bounded);
  EXPECT_EQ(decoded.letter, message.letter);

  // A unit that is not UTF-16 is rejected where it stands.
  Bytes bad = expected;
  bad[4 + 4 + 2] = 1;  // 'h' -> 0x00010068
  Synthetic target;
  try {
    ros2_core::deserialize(bad, &target, type);
    ADD_FAILURE() << "accepted a wstring unit past 0xFFFF";
  } catch (const ros2_core::CdrError& error) {
    EXPECT_EQ(error.field(), "name");
    EXPECT_EQ(error.offset(), 8U);
  }
}

TEST(CdrSyntheticType, BoundedStringOverItsBoundIsRejectedBothWays) {
  const auto members = synthetic_members(false);
  const auto type = describe(members);
  Synthetic message;
  message.bounded = "abcd";
  EXPECT_THROW(ros2_core::serialize(&message, type), std::invalid_argument);

  // name "", names [], bounded "abcd", letter 0: built by hand.
  const Bytes over{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0};
  Synthetic target;
  try {
    ros2_core::deserialize(over, &target, type);
    ADD_FAILURE() << "accepted a string over its bound";
  } catch (const ros2_core::CdrError& error) {
    EXPECT_NE(std::string(error.what()).find("over its bound of 3"), std::string::npos)
        << error.what();
    EXPECT_EQ(error.field(), "bounded");
    EXPECT_EQ(error.offset(), 12U);
  }
}

TEST(CdrSyntheticType, LongDoubleIsRefusedWithItsName) {
  const auto members = synthetic_members(true);
  const auto type = describe(members);
  Synthetic message;
  try {
    ros2_core::serialize(&message, type);
    ADD_FAILURE() << "serialized a long double";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("'ratio' is a long double"), std::string::npos)
        << error.what();
  }
}

}  // namespace
