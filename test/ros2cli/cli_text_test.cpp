// The pure pieces of ros2_cli: rate figures, Python text, parameter values and argument parsing.
#include <gtest/gtest.h>

#include <cmath>

#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/header.hpp>

#include "ros2cli/command_line.hpp"
#include "ros2cli/parameter_text.hpp"
#include "ros2cli/python_repr.hpp"
#include "ros2cli/rate_statistics.hpp"

namespace {

using rcl_interfaces::msg::ParameterType;

template <typename T>
const ros2cli::MessageMembers& members() {
  return *static_cast<const ros2cli::MessageMembers*>(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>()->data);
}

TEST(RateStatistics, FiguresFollowTheIntervalsByHand) {
  ros2cli::RateStatistics statistics(10);
  EXPECT_FALSE(statistics.figures().has_value());
  // Intervals 0.1 and 0.2: mean 0.15 s, so 6.667 Hz; population deviation 0.05 s.
  for (double t : {1.0, 1.1, 1.3}) {
    statistics.add(t);
  }
  ASSERT_TRUE(statistics.has_new());
  const auto figures = statistics.figures();
  ASSERT_TRUE(figures.has_value());
  EXPECT_NEAR(figures->average_rate, 1.0 / 0.15, 1e-9);
  EXPECT_NEAR(figures->min_interval, 0.1, 1e-9);
  EXPECT_NEAR(figures->max_interval, 0.2, 1e-9);
  EXPECT_NEAR(figures->std_dev, 0.05, 1e-9);
  EXPECT_EQ(figures->window, 3u);
  EXPECT_FALSE(statistics.has_new());
  EXPECT_EQ(ros2cli::formatRate(*figures),
            "average rate: 6.667\n\tmin: 0.100s max: 0.200s std dev: 0.05000s window: 3");
}

TEST(RateStatistics, OnlyTheWindowCounts) {
  ros2cli::RateStatistics statistics(2);
  // A slow start (1 s) falls out of a window of two intervals of 0.5 s.
  for (double t : {0.0, 1.0, 1.5, 2.0}) {
    statistics.add(t);
  }
  const auto figures = statistics.figures();
  ASSERT_TRUE(figures.has_value());
  EXPECT_NEAR(figures->average_rate, 2.0, 1e-9);
  EXPECT_NEAR(figures->max_interval, 0.5, 1e-9);
  EXPECT_THROW(ros2cli::RateStatistics(0), std::invalid_argument);
}

TEST(PythonRepr, FloatsAndStringsAsPythonWritesThem) {
  EXPECT_EQ(ros2cli::pythonFloat(0.2), "0.2");
  EXPECT_EQ(ros2cli::pythonFloat(3.0), "3.0");
  EXPECT_EQ(ros2cli::pythonFloat(1e-5), "1e-05");
  EXPECT_EQ(ros2cli::pythonFloat(1e16), "1e+16");
  EXPECT_EQ(ros2cli::pythonFloat(-INFINITY), "-inf");
  EXPECT_EQ(ros2cli::pythonFloat(NAN), "nan");
  EXPECT_EQ(ros2cli::pythonString("map"), "'map'");
  EXPECT_EQ(ros2cli::pythonString("it's"), "\"it's\"");
  EXPECT_EQ(ros2cli::pythonString("a'b\"c"), "'a\\'b\"c'");
  EXPECT_EQ(ros2cli::pythonString("a\nb\\"), "'a\\nb\\\\'");
}

TEST(PythonRepr, NestedMessagesAndSequences) {
  std_msgs::msg::Header header;
  header.frame_id = "map";
  header.stamp.sec = 7;
  EXPECT_EQ(ros2cli::pythonRepr(&header, members<std_msgs::msg::Header>()),
            "std_msgs.msg.Header(stamp=builtin_interfaces.msg.Time(sec=7, nanosec=0), "
            "frame_id='map')");
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.fields.resize(1);
  cloud.fields[0].name = "x";
  cloud.fields[0].datatype = 7;
  cloud.fields[0].count = 1;
  cloud.data = {1, 2};
  const std::string text = ros2cli::pythonRepr(&cloud, members<sensor_msgs::msg::PointCloud2>());
  EXPECT_NE(text.find("fields=[sensor_msgs.msg.PointField(name='x', offset=0, datatype=7, "
                      "count=1)]"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(", data=array('B', [1, 2]), is_dense=False)"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("sensor_msgs.msg.PointCloud2(header=std_msgs.msg.Header(", 0), 0u) << text;
}

TEST(ParameterText, ValuesResolveAsYamlScalarsAndLists) {
  {
    const auto v = ros2cli::parameterValueFromText("3");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_INTEGER);
    EXPECT_EQ(v.integer_value, 3);
  }
  {
    const auto v = ros2cli::parameterValueFromText("0x1f");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_INTEGER);
    EXPECT_EQ(v.integer_value, 31);
  }
  {
    const auto v = ros2cli::parameterValueFromText("-0.25");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_DOUBLE);
    EXPECT_DOUBLE_EQ(v.double_value, -0.25);
  }
  {
    const auto v = ros2cli::parameterValueFromText("off");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_BOOL);
    EXPECT_FALSE(v.bool_value);
  }
  {
    // YAML 1.1 needs a point in a float, so this stays text, as it does for ros2.
    const auto v = ros2cli::parameterValueFromText("1e3");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_STRING);
    EXPECT_EQ(v.string_value, "1e3");
  }
  {
    const auto v = ros2cli::parameterValueFromText("'42'");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_STRING);
    EXPECT_EQ(v.string_value, "'42'");
  }
  {
    const auto v = ros2cli::parameterValueFromText("[1, 2, -3]");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_INTEGER_ARRAY);
    EXPECT_EQ(v.integer_array_value, (std::vector<int64_t>{1, 2, -3}));
  }
  {
    const auto v = ros2cli::parameterValueFromText("[a, b]");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_STRING_ARRAY);
    EXPECT_EQ(v.string_array_value, (std::vector<std::string>{"a", "b"}));
  }
  {
    const auto v = ros2cli::parameterValueFromText("[true, no]");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_BOOL_ARRAY);
    EXPECT_EQ(v.bool_array_value, (std::vector<bool>{true, false}));
  }
  {
    // A mixed list has no array type: the whole text is a string.
    const auto v = ros2cli::parameterValueFromText("[1, a]");
    EXPECT_EQ(v.type, ParameterType::PARAMETER_STRING);
    EXPECT_EQ(v.string_value, "[1, a]");
  }
}

TEST(ParameterText, DescriptionsAsRos2PrintsThem) {
  EXPECT_EQ(ros2cli::describeParameterValue(ros2cli::parameterValueFromText("3")),
            "Integer value is: 3");
  EXPECT_EQ(ros2cli::describeParameterValue(ros2cli::parameterValueFromText("0.2")),
            "Double value is: 0.2");
  EXPECT_EQ(ros2cli::describeParameterValue(ros2cli::parameterValueFromText("true")),
            "Boolean value is: True");
  EXPECT_EQ(ros2cli::describeParameterValue(ros2cli::parameterValueFromText("[1.5, 2.0]")),
            "Double values are: array('d', [1.5, 2.0])");
  EXPECT_EQ(ros2cli::describeParameterValue(ros2cli::parameterValueFromText("[x, y]")),
            "String values are: ['x', 'y']");
  EXPECT_EQ(ros2cli::describeParameterValue(rcl_interfaces::msg::ParameterValue()),
            "Parameter not set.");
}

TEST(CommandLine, OptionsFlagsAndPositionals) {
  const ros2cli::CommandLine line({"/x", "-r", "5", "--once", "--window=3", "-1", "-2"},
                                  {"-r", "--window"}, {"--once", "-1"});
  EXPECT_EQ(line.positional(), (std::vector<std::string>{"/x", "-2"}));
  EXPECT_TRUE(line.has("--once"));
  EXPECT_TRUE(line.has("-1"));
  EXPECT_EQ(line.number("-r", 0), 5.0);
  EXPECT_EQ(line.value("--window"), "3");
  EXPECT_THROW(ros2cli::CommandLine({"--bogus"}, {}, {}), ros2cli::UsageError);
  EXPECT_THROW(ros2cli::CommandLine({"-r"}, {"-r"}, {}), ros2cli::UsageError);
  const ros2cli::CommandLine bad({"-r", "fast"}, {"-r"}, {});
  EXPECT_THROW(bad.number("-r", 0), ros2cli::UsageError);
  const ros2cli::CommandLine low({"-r", "-1"}, {"-r"}, {});
  EXPECT_THROW(low.number("-r", 0), ros2cli::UsageError);
}

}  // namespace
