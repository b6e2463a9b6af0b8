#include "ros2cli/interface_name.hpp"

#include <stdexcept>

#include <gtest/gtest.h>

namespace {

using ros2cli::parseInterfaceName;

TEST(InterfaceName, AcceptsTheFullAndTheShortForm) {
  {
    const auto name = parseInterfaceName("geometry_msgs/msg/TransformStamped", "msg");
    EXPECT_EQ(name.package, "geometry_msgs");
    EXPECT_EQ(name.kind, "msg");
    EXPECT_EQ(name.type, "TransformStamped");
    EXPECT_EQ(name.full(), "geometry_msgs/msg/TransformStamped");
  }
  {
    const auto name = parseInterfaceName("std_msgs/Header", "msg");
    EXPECT_EQ(name.full(), "std_msgs/msg/Header");
  }
  {
    const auto name = parseInterfaceName("lifecycle_msgs/ChangeState", "srv");
    EXPECT_EQ(name.full(), "lifecycle_msgs/srv/ChangeState");
  }
}

TEST(InterfaceName, RefusesOtherShapes) {
  for (const char* text :
       {"", "Header", "std_msgs", "std_msgs/", "/Header", "std_msgs/msg/", "std_msgs//Header",
        "a/b/c/D", "std_msgs/srv/Header", "std_msgs/header", "std-msgs/Header", "1pkg/Type",
        "std_msgs/Head er", "std_msgs/msg/Header/"}) {
    EXPECT_THROW(parseInterfaceName(text, "msg"), std::invalid_argument) << "'" << text << "'";
  }
  EXPECT_THROW(parseInterfaceName("lifecycle_msgs/msg/ChangeState", "srv"), std::invalid_argument);
}

TEST(InterfaceName, ErrorQuotesTheText) {
  try {
    parseInterfaceName("std_msgs/Foo/Bar", "msg");
    FAIL() << "no exception";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("'std_msgs/Foo/Bar'"), std::string::npos)
        << error.what();
  }
}

}  // namespace
