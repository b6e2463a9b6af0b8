// Parameter typing from the command line and parameter files, typed reads, and on-set callbacks.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "rclcpp/rclcpp.hpp"

namespace {

// A node whose parameters come from `arguments` (as after "--ros-args" on a command line).
std::shared_ptr<rclcpp::Node> make_node(const std::vector<std::string>& arguments,
                                        const std::string& name = "talker") {
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  rclcpp::NodeOptions options;
  options.context(context).arguments(arguments).automatically_declare_parameters_from_overrides(
      true);
  return std::make_shared<rclcpp::Node>(name, options);
}

std::string write_file(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << text;
  return path;
}

}  // namespace

TEST(ParameterTyping, CommandLineValuesAreTypedLikeRos) {
  auto node = make_node({"--ros-args",
                         "-p",
                         "i:=5",
                         "-p",
                         "d:=5.0",
                         "-p",
                         "b:=true",
                         "-p",
                         "s:=hello",
                         "-p",
                         "q:='7'",
                         "-p",
                         "ia:=[1, 2, 3]",
                         "-p",
                         "da:=[0.5, 1.5]",
                         "-p",
                         "neg:=-3",
                         "-p",
                         "exp:=1e3",
                         "-p",
                         "other_node:skipped:=1"});
  EXPECT_EQ(node->get_parameter("i").get_type(), rclcpp::PARAMETER_INTEGER);
  EXPECT_EQ(node->get_parameter("i").as_int(), 5);
  EXPECT_EQ(node->get_parameter("d").get_type(), rclcpp::PARAMETER_DOUBLE);
  EXPECT_DOUBLE_EQ(node->get_parameter("d").as_double(), 5.0);
  EXPECT_TRUE(node->get_parameter("b").as_bool());
  EXPECT_EQ(node->get_parameter("s").as_string(), "hello");
  // Quoted values stay text even when they look like numbers.
  EXPECT_EQ(node->get_parameter("q").as_string(), "7");
  EXPECT_EQ(node->get_parameter("ia").as_integer_array(), (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(node->get_parameter("da").as_double_array(), (std::vector<double>{0.5, 1.5}));
  EXPECT_EQ(node->get_parameter("neg").as_int(), -3);
  EXPECT_DOUBLE_EQ(node->get_parameter("exp").as_double(), 1000.0);
  EXPECT_FALSE(node->has_parameter("skipped"));
}

TEST(ParameterTyping, ParameterFileNestsAndMatchesNodes) {
  const std::string path = write_file("params_nested.yaml",
                                      "/**:\n"
                                      "  ros__parameters:\n"
                                      "    shared: 1\n"
                                      "    post_fusion:\n"
                                      "      enable: true\n"
                                      "      threshold: 0.7\n"
                                      "talker:\n"
                                      "  ros__parameters:\n"
                                      "    shared: 2\n"
                                      "    frames: [map, base]\n"
                                      "listener:\n"
                                      "  ros__parameters:\n"
                                      "    only_listener: 3\n");
  auto node = make_node({"--ros-args", "--params-file", path});
  EXPECT_TRUE(node->get_parameter("post_fusion.enable").as_bool());
  EXPECT_DOUBLE_EQ(node->get_parameter("post_fusion.threshold").as_double(), 0.7);
  EXPECT_EQ(node->get_parameter("shared").as_int(), 2);
  EXPECT_EQ(node->get_parameter("frames").as_string_array(),
            (std::vector<std::string>{"map", "base"}));
  EXPECT_FALSE(node->has_parameter("only_listener"));

  // A later -p overrides the file; explicit NodeOptions overrides win over both.
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  rclcpp::NodeOptions options;
  options.context(context)
      .arguments({"--ros-args", "--params-file", path, "-p", "shared:=9"})
      .parameter_overrides({rclcpp::Parameter("frames", std::vector<std::string>{"odom"})})
      .automatically_declare_parameters_from_overrides(true);
  auto overridden = std::make_shared<rclcpp::Node>("talker", options);
  EXPECT_EQ(overridden->get_parameter("shared").as_int(), 9);
  EXPECT_EQ(overridden->get_parameter("frames").as_string_array(),
            (std::vector<std::string>{"odom"}));
}

TEST(ParameterTyping, BadArgumentsAreRejectedWithTheirText) {
  auto context = std::make_shared<rclcpp::Context>();
  const char* missing_value[] = {"prog", "--ros-args", "-p", "novalue"};
  try {
    context->init(4, missing_value);
    FAIL() << "a rule without := must be refused";
  } catch (const rclcpp::exceptions::RCLInvalidROSArgsError& e) {
    EXPECT_NE(std::string(e.what()).find("novalue"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(context->is_valid());

  const char* unknown[] = {"prog", "--ros-args", "--bogus"};
  EXPECT_THROW(context->init(3, unknown), rclcpp::exceptions::UnknownROSArgsError);

  const std::string broken = write_file("params_broken.yaml", "talker:\n  ros__parameters: [1,\n");
  const char* with_file[] = {"prog", "--ros-args", "--params-file", broken.c_str()};
  try {
    context->init(4, with_file);
    FAIL() << "a broken parameter file must be refused";
  } catch (const rclcpp::exceptions::RCLInvalidROSArgsError& e) {
    EXPECT_NE(std::string(e.what()).find(broken), std::string::npos) << e.what();
  }

  const char* absent[] = {"prog", "--ros-args", "--params-file", "/nonexistent/params.yaml"};
  EXPECT_THROW(context->init(4, absent), rclcpp::exceptions::RCLInvalidROSArgsError);

  // Arguments outside --ros-args ... -- are left to the program.
  const char* mixed[] = {"prog", "input.bin", "--ros-args", "-p", "a:=1", "--", "--verbose"};
  context->init(7, mixed);
  EXPECT_EQ(context->get_unparsed_ros_arguments(),
            (std::vector<std::string>{"input.bin", "--verbose"}));
}

TEST(TypedRead, WrongTypeThrowsWithRclcppText) {
  auto node = make_node({"--ros-args", "-p", "count:=5", "-p", "ratio:=0.5", "-p", "name:=x"});
  {
    double ratio = 0.0;
    EXPECT_TRUE(node->get_parameter("ratio", ratio));
    EXPECT_DOUBLE_EQ(ratio, 0.5);
    float narrowed = 0.0f;
    EXPECT_TRUE(node->get_parameter("ratio", narrowed));
    EXPECT_FLOAT_EQ(narrowed, 0.5f);
  }
  {
    int count = 0;
    EXPECT_TRUE(node->get_parameter("count", count));
    EXPECT_EQ(count, 5);
  }
  {
    // An integer is not converted into a double.
    double value = -1.0;
    try {
      node->get_parameter("count", value);
      FAIL() << "reading an integer as double must throw";
    } catch (const rclcpp::exceptions::InvalidParameterTypeException& e) {
      EXPECT_STREQ(e.what(), "parameter 'count' has invalid type: expected [double] got [integer]");
    }
    EXPECT_DOUBLE_EQ(value, -1.0);
  }
  {
    bool flag = false;
    EXPECT_THROW(node->get_parameter("name", flag),
                 rclcpp::exceptions::InvalidParameterTypeException);
    std::string text;
    EXPECT_THROW(node->get_parameter("count", text),
                 rclcpp::exceptions::InvalidParameterTypeException);
  }
  {
    // Absent: false, value untouched.
    int untouched = 42;
    EXPECT_FALSE(node->get_parameter("missing", untouched));
    EXPECT_EQ(untouched, 42);
  }
  EXPECT_THROW(node->get_parameter("count").as_double(),
               rclcpp::exceptions::InvalidParameterTypeException);
}

TEST(OnSetCallbacks, AcceptRejectAndThrow) {
  auto node = make_node({"--ros-args", "-p", "gain:=1.0", "-p", "mode:=fast"});
  std::vector<std::string> seen;
  auto handle =
      node->add_on_set_parameters_callback([&](const std::vector<rclcpp::Parameter>& parameters) {
        rcl_interfaces::msg::SetParametersResult result;
        result.successful = true;
        for (const auto& p : parameters) {
          seen.push_back(p.get_name());
          if (p.get_name() == "gain" && p.as_double() < 0.0) {
            result.successful = false;
            result.reason = "gain must be >= 0";
          }
        }
        return result;
      });

  auto accepted = node->set_parameter(rclcpp::Parameter("gain", 2.5));
  EXPECT_TRUE(accepted.successful);
  EXPECT_DOUBLE_EQ(node->get_parameter("gain").as_double(), 2.5);

  auto rejected = node->set_parameter(rclcpp::Parameter("gain", -1.0));
  EXPECT_FALSE(rejected.successful);
  EXPECT_EQ(rejected.reason, "gain must be >= 0");
  EXPECT_DOUBLE_EQ(node->get_parameter("gain").as_double(), 2.5)
      << "a rejected value is not stored";

  // The callback reads as_double; a string makes it throw, and the exception reaches the caller.
  EXPECT_THROW(node->set_parameter(rclcpp::Parameter("gain", "high")),
               rclcpp::exceptions::InvalidParameterTypeException);
  EXPECT_DOUBLE_EQ(node->get_parameter("gain").as_double(), 2.5);

  // set_parameters handles each parameter on its own.
  auto results =
      node->set_parameters({rclcpp::Parameter("mode", "slow"), rclcpp::Parameter("gain", -2.0)});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(results[0].successful);
  EXPECT_FALSE(results[1].successful);
  EXPECT_EQ(node->get_parameter("mode").as_string(), "slow");
  EXPECT_EQ(seen, (std::vector<std::string>{"gain", "gain", "gain", "mode", "gain"}));

  // Undeclared parameters cannot be set.
  EXPECT_THROW(node->set_parameter(rclcpp::Parameter("unknown", 1)),
               rclcpp::exceptions::ParameterNotDeclaredException);

  // Releasing the handle unregisters the callback.
  handle.reset();
  EXPECT_TRUE(node->set_parameter(rclcpp::Parameter("gain", -3.0)).successful);
  EXPECT_EQ(seen.size(), 5u);
}
