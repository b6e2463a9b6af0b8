// Runs with LD_LIBRARY_PATH empty; the executable
// links no message library, so every type comes from a prefix search.
#include "ros2cli/type_support_registry.hpp"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ros2cli/message_box.hpp"

namespace {

using namespace ros2cli;

std::vector<std::string> memberNames(const MessageMembers& members) {
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < members.member_count_; ++i) {
    names.emplace_back(members.members_[i].name_);
  }
  return names;
}

std::string errorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

TEST(TypeSupportRegistry, FindsAMessageUnderAPrefix) {
  TypeSupportRegistry registry({"/nonexistent/prefix", MESSAGE_PREFIX});
  const MessageType header = registry.message("std_msgs/msg/Header");
  ASSERT_NE(header.members, nullptr);
  EXPECT_EQ(header.name, "std_msgs/msg/Header");
  EXPECT_STREQ(header.members->message_namespace_, "std_msgs::msg");
  EXPECT_STREQ(header.members->message_name_, "Header");
  // std_msgs/Header.msg: builtin_interfaces/Time stamp, string frame_id.
  EXPECT_EQ(memberNames(*header.members), (std::vector<std::string>{"stamp", "frame_id"}));
  const auto* stamp =
      static_cast<const MessageMembers*>(header.members->members_[0].members_->data);
  EXPECT_EQ(memberNames(*stamp), (std::vector<std::string>{"sec", "nanosec"}));
  EXPECT_NE(header.library->path().find(MESSAGE_PREFIX), std::string::npos);
  // The short form names the same type and comes from the cache.
  EXPECT_EQ(registry.message("std_msgs/Header").members, header.members);
}

TEST(TypeSupportRegistry, DefaultPrefixesComeFromAmentPrefixPath) {
  ASSERT_EQ(setenv("AMENT_PREFIX_PATH", "::/nonexistent/prefix::" MESSAGE_PREFIX ":", 1), 0);
  const std::vector<std::string> prefixes = amentPrefixes();
  ASSERT_EQ(prefixes, (std::vector<std::string>{"/nonexistent/prefix", MESSAGE_PREFIX}));
  ASSERT_EQ(setenv("AMENT_PREFIX_PATH", MESSAGE_PREFIX, 1), 0);
  TypeSupportRegistry registry;
  EXPECT_STREQ(registry.message("geometry_msgs/Point").members->message_name_, "Point");
}

TEST(TypeSupportRegistry, ReportsAMissingPackage) {
  TypeSupportRegistry registry(std::vector<std::string>{});
  const std::string error = errorOf([&] { registry.message("tf2_msgs/msg/TFMessage"); });
  EXPECT_NE(error.find("tf2_msgs/msg/TFMessage: package 'tf2_msgs' not found"), std::string::npos)
      << error;
  EXPECT_NE(error.find("libtf2_msgs__rosidl_typesupport_introspection_cpp.so"), std::string::npos)
      << error;
  const std::string other = errorOf([&] { registry.message("no_such_pkg/msg/Thing"); });
  EXPECT_NE(other.find("package 'no_such_pkg' not found"), std::string::npos) << other;
}

TEST(TypeSupportRegistry, ReportsAMissingTypeInAKnownPackage) {
  TypeSupportRegistry registry({MESSAGE_PREFIX});
  const std::string error = errorOf([&] { registry.message("std_msgs/msg/NoSuchType"); });
  EXPECT_NE(error.find("package 'std_msgs' has no message type 'NoSuchType'"), std::string::npos)
      << error;
  const std::string service = errorOf([&] { registry.service("std_msgs/srv/NoSuchService"); });
  EXPECT_NE(service.find("package 'std_msgs' has no service type 'NoSuchService'"),
            std::string::npos)
      << service;
  EXPECT_THROW(registry.message("std_msgs/msg/header"), std::invalid_argument);
  EXPECT_THROW(registry.message("Header"), std::invalid_argument);
}

TEST(TypeSupportRegistry, FindsAServiceWithItsRequestAndResponse) {
  TypeSupportRegistry registry({MESSAGE_PREFIX});
  const ServiceType change = registry.service("lifecycle_msgs/srv/ChangeState");
  ASSERT_NE(change.members, nullptr);
  EXPECT_STREQ(change.members->service_name_, "ChangeState");
  // lifecycle_msgs/srv/ChangeState.srv: Transition transition --- bool success.
  EXPECT_EQ(memberNames(*change.members->request_members_),
            (std::vector<std::string>{"transition"}));
  EXPECT_EQ(memberNames(*change.members->response_members_), (std::vector<std::string>{"success"}));
  EXPECT_EQ(registry.service("lifecycle_msgs/ChangeState").members, change.members);
  // A service is not a message and the other way round.
  EXPECT_THROW(registry.message("lifecycle_msgs/srv/ChangeState"), std::invalid_argument);
  EXPECT_THROW(registry.service("lifecycle_msgs/msg/Transition"), std::invalid_argument);
  const std::string error = errorOf([&] { registry.service("lifecycle_msgs/Transition"); });
  EXPECT_NE(error.find("has no service type 'Transition'"), std::string::npos) << error;
}

TEST(TypeSupportRegistry, ConcurrentLookupsAgree) {
  TypeSupportRegistry registry({MESSAGE_PREFIX});
  std::vector<const MessageMembers*> found(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < found.size(); ++i) {
    threads.emplace_back([&registry, &found, i] {
      found[i] =
          registry.message(i % 2 == 0 ? "sensor_msgs/msg/PointField" : "sensor_msgs/PointField")
              .members;
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (const MessageMembers* members : found) {
    ASSERT_NE(members, nullptr);
    EXPECT_EQ(members, found[0]);
  }
}

TEST(MessageBox, InitialisesDefaultsAndOutlivesTheRegistry) {
  std::shared_ptr<void> message;
  MessageType type;
  {
    TypeSupportRegistry registry({MESSAGE_PREFIX});
    type = registry.message("geometry_msgs/msg/Quaternion");
    message = makeMessage(type);
  }
  // Quaternion.msg gives x, y, z 0 and w 1; the members stay readable with the registry gone.
  const auto* base = static_cast<const std::uint8_t*>(message.get());
  ASSERT_EQ(memberNames(*type.members), (std::vector<std::string>{"x", "y", "z", "w"}));
  double values[4];
  for (int i = 0; i < 4; ++i) {
    std::memcpy(&values[i], base + type.members->members_[i].offset_, sizeof(double));
  }
  EXPECT_EQ(values[0], 0.0);
  EXPECT_EQ(values[1], 0.0);
  EXPECT_EQ(values[2], 0.0);
  EXPECT_EQ(values[3], 1.0);
}

TEST(MessageBox, OwnsStringsAndSequencesUntilDestroyed) {
  TypeSupportRegistry registry({MESSAGE_PREFIX});
  const MessageType type = registry.message("sensor_msgs/msg/PointCloud2");
  MessageBox box(type);
  const auto* base = static_cast<std::uint8_t*>(box.get());
  for (std::uint32_t i = 0; i < type.members->member_count_; ++i) {
    const MessageMember& member = type.members->members_[i];
    if (std::strcmp(member.name_, "data") == 0) {
      member.resize_function(const_cast<std::uint8_t*>(base) + member.offset_, 100000);
      EXPECT_EQ(member.size_function(base + member.offset_), 100000u);
    }
  }
  EXPECT_EQ(&box.members(), type.members);
}

}  // namespace
