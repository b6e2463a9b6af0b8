// MsgSchemaBuilder against the .msg files of the message packages this build uses; the expected
// dependency lists are read off those files by hand.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "bag_io/msg_schema_builder.hpp"

namespace {

using bag_io::MsgSchemaBuilder;

std::string msgFile(const std::string& package, const std::string& type) {
  std::ifstream in(std::string(INTERFACE_SHARE_DIR) + "/" + package + "/msg/" + type + ".msg");
  EXPECT_TRUE(in.good()) << package << "/" << type;
  std::string text(std::istreambuf_iterator<char>(in), {});
  if (!text.empty() && text.back() != '\n')
    text += '\n';
  return text;
}

// Splits a schema text into (name, text) sections; the first has an empty name.
std::vector<std::pair<std::string, std::string>> sections(const std::string& schema) {
  const std::string delimiter = std::string(80, '=') + "\n";
  std::vector<std::pair<std::string, std::string>> out{{"", ""}};
  std::istringstream in(schema);
  std::string line;
  while (std::getline(in, line)) {
    if (line + "\n" == delimiter) {
      std::string header;
      std::getline(in, header);
      EXPECT_EQ(header.rfind("MSG: ", 0), 0u) << header;
      out.emplace_back(header.substr(5), "");
      continue;
    }
    out.back().second += line + "\n";
  }
  return out;
}

TEST(MsgSchemaBuilder, PointCloud2WithItsDependenciesOnce) {
  MsgSchemaBuilder builder({"/nonexistent/share", INTERFACE_SHARE_DIR});
  const std::string schema = builder.schemaText("sensor_msgs/msg/PointCloud2");
  EXPECT_EQ(schema, builder.schemaText("sensor_msgs/PointCloud2"));
  const auto parts = sections(schema);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"", msgFile("sensor_msgs", "PointCloud2")},
      {"std_msgs/Header", msgFile("std_msgs", "Header")},
      {"builtin_interfaces/Time", msgFile("builtin_interfaces", "Time")},
      {"sensor_msgs/PointField", msgFile("sensor_msgs", "PointField")},
  };
  EXPECT_EQ(parts, expected);
}

TEST(MsgSchemaBuilder, MarkerArrayNamesEachTypeOnceDepthFirst) {
  MsgSchemaBuilder builder({INTERFACE_SHARE_DIR});
  std::vector<std::string> names;
  for (const auto& [name, text] :
       sections(builder.schemaText("visualization_msgs/msg/MarkerArray"))) {
    names.push_back(name);
  }
  const std::vector<std::string> expected = {
      "",
      "visualization_msgs/Marker",
      "std_msgs/Header",
      "builtin_interfaces/Time",
      "geometry_msgs/Pose",
      "geometry_msgs/Point",
      "geometry_msgs/Quaternion",
      "geometry_msgs/Vector3",
      "std_msgs/ColorRGBA",
      "builtin_interfaces/Duration",
      "sensor_msgs/CompressedImage",
      "visualization_msgs/UVCoordinate",
      "visualization_msgs/MeshFile",
  };
  EXPECT_EQ(names, expected);
}

TEST(MsgSchemaBuilder, MissingTypesAndBadNamesAreErrors) {
  MsgSchemaBuilder builder({INTERFACE_SHARE_DIR});
  try {
    builder.schemaText("sensor_msgs/msg/NoSuchType");
    FAIL() << "no error for a missing type";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("sensor_msgs/msg/NoSuchType.msg"), std::string::npos)
        << e.what();
  }
  EXPECT_THROW(builder.schemaText("PointCloud2"), std::invalid_argument);
  EXPECT_THROW(builder.schemaText("sensor_msgs/srv/PointCloud2"), std::invalid_argument);
  EXPECT_THROW(MsgSchemaBuilder({}).schemaText("std_msgs/msg/Header"), std::invalid_argument);
}

}  // namespace
