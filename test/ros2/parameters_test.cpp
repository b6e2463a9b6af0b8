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

namespace {

// A node that declares its own parameters; `arguments` only provide overrides.
std::shared_ptr<rclcpp::Node> make_declaring_node(const std::vector<std::string>& arguments,
                                                  const std::string& name = "talker") {
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  rclcpp::NodeOptions options;
  options.context(context).arguments(arguments);
  return std::make_shared<rclcpp::Node>(name, options);
}

}  // namespace

TEST(StaticTyping, DeclaredTypeHoldsAgainstOverridesSetsAndUndeclare) {
  auto node = make_declaring_node({"--ros-args", "-p", "rate:=5", "-p", "gain:=0.5"});
  {
    // An integer override of a double parameter is refused, as rclcpp does (no conversion).
    try {
      node->declare_parameter<double>("rate", 1.0);
      FAIL() << "an integer override must not declare a double parameter";
    } catch (const rclcpp::exceptions::InvalidParameterTypeException& e) {
      EXPECT_STREQ(e.what(),
                   "parameter 'rate' has invalid type: Wrong parameter type, parameter {rate} is "
                   "of type {double}, setting it to {integer} is not allowed.");
    }
    EXPECT_FALSE(node->has_parameter("rate"));
  }
  {
    EXPECT_DOUBLE_EQ(node->declare_parameter<double>("gain", 1.0), 0.5) << "override wins";
    EXPECT_DOUBLE_EQ(node->declare_parameter<double>("unset", 2.0), 2.0) << "default without one";
    EXPECT_THROW(node->declare_parameter<double>("gain", 1.0),
                 rclcpp::exceptions::ParameterAlreadyDeclaredException);
  }
  {
    const auto wrong = node->set_parameter(rclcpp::Parameter("gain", 3));
    EXPECT_FALSE(wrong.successful);
    EXPECT_EQ(wrong.reason,
              "Wrong parameter type, parameter {gain} is of type {double}, setting it to "
              "{integer} is not allowed.");
    EXPECT_DOUBLE_EQ(node->get_parameter("gain").as_double(), 0.5);
  }
  {
    // A statically typed parameter can be neither unset nor undeclared.
    const auto unset = node->set_parameter(rclcpp::Parameter("gain"));
    EXPECT_FALSE(unset.successful);
    EXPECT_EQ(unset.reason, "cannot undeclare a statically typed parameter");
    EXPECT_TRUE(node->has_parameter("gain"));
    try {
      node->undeclare_parameter("gain");
      FAIL() << "undeclaring a statically typed parameter must throw";
    } catch (const rclcpp::exceptions::InvalidParameterTypeException& e) {
      EXPECT_STREQ(e.what(),
                   "parameter 'gain' has invalid type: cannot undeclare a statically typed "
                   "parameter");
    }
    EXPECT_DOUBLE_EQ(node->get_parameter("gain").as_double(), 0.5);
  }
  {
    // Dynamically typed parameters change type and can be undeclared.
    rcl_interfaces::msg::ParameterDescriptor dynamic;
    dynamic.dynamic_typing = true;
    node->declare_parameter("mode", rclcpp::ParameterValue(1), dynamic);
    EXPECT_TRUE(node->set_parameter(rclcpp::Parameter("mode", "fast")).successful);
    EXPECT_EQ(node->get_parameter("mode").as_string(), "fast");
    node->undeclare_parameter("mode");
    EXPECT_FALSE(node->has_parameter("mode"));
  }
  {
    rcl_interfaces::msg::ParameterDescriptor read_only;
    read_only.read_only = true;
    node->declare_parameter("frame", rclcpp::ParameterValue(std::string("lidar")), read_only);
    const auto result = node->set_parameter(rclcpp::Parameter("frame", "base"));
    EXPECT_FALSE(result.successful);
    EXPECT_EQ(result.reason, "parameter 'frame' cannot be set because it is read-only");
    EXPECT_EQ(node->get_parameter("frame").as_string(), "lidar");
    EXPECT_THROW(node->undeclare_parameter("frame"),
                 rclcpp::exceptions::ParameterImmutableException);
  }
}

TEST(AtomicSet, AllOrNothingWithOneCallbackCall) {
  auto node = make_node({"--ros-args", "-p", "min:=1", "-p", "max:=10", "-p", "label:=a"});
  std::vector<std::size_t> batch_sizes;
  auto handle =
      node->add_on_set_parameters_callback([&](const std::vector<rclcpp::Parameter>& parameters) {
        batch_sizes.push_back(parameters.size());
        rcl_interfaces::msg::SetParametersResult result;
        result.successful = true;
        for (const auto& p : parameters) {
          if (p.get_name() == "max" && p.get_type() == rclcpp::PARAMETER_INTEGER &&
              p.as_int() < 0) {
            result.successful = false;
            result.reason = "max must be >= 0";
          }
        }
        return result;
      });

  // One rejected member leaves every member untouched.
  const auto rejected = node->set_parameters_atomically(
      {rclcpp::Parameter("min", 2), rclcpp::Parameter("label", "b"), rclcpp::Parameter("max", -1)});
  EXPECT_FALSE(rejected.successful);
  EXPECT_EQ(rejected.reason, "max must be >= 0");
  EXPECT_EQ(node->get_parameter("min").as_int(), 1);
  EXPECT_EQ(node->get_parameter("label").as_string(), "a");
  EXPECT_EQ(node->get_parameter("max").as_int(), 10);

  // An undeclared member throws before anything is stored or any callback runs.
  EXPECT_THROW(node->set_parameters_atomically(
                   {rclcpp::Parameter("min", 3), rclcpp::Parameter("undeclared", 1)}),
               rclcpp::exceptions::ParameterNotDeclaredException);
  EXPECT_EQ(node->get_parameter("min").as_int(), 1);

  const auto accepted =
      node->set_parameters_atomically({rclcpp::Parameter("min", 4), rclcpp::Parameter("max", 8)});
  EXPECT_TRUE(accepted.successful);
  EXPECT_EQ(node->get_parameter("min").as_int(), 4);
  EXPECT_EQ(node->get_parameter("max").as_int(), 8);
  // The callback sees each atomic batch whole, once.
  EXPECT_EQ(batch_sizes, (std::vector<std::size_t>{3, 2}));
}

TEST(ParameterTyping, ParameterFileNamespacesAndWildcards) {
  // The node is /robot/talker. Keys name nodes by full name, by nested namespace keys, or with
  // "*" (one name segment) and "/**" (any number of segments).
  const std::string path = write_file("params_namespaces.yaml",
                                      "/**:\n"
                                      "  ros__parameters:\n"
                                      "    everywhere: 1\n"
                                      "/*/talker:\n"
                                      "  ros__parameters:\n"
                                      "    one_level: 2\n"
                                      "/**/talker:\n"
                                      "  ros__parameters:\n"
                                      "    any_depth: 3\n"
                                      "talker:\n"
                                      "  ros__parameters:\n"
                                      "    root_talker_only: 4\n"
                                      "/robot/talker:\n"
                                      "  ros__parameters:\n"
                                      "    full_name: 5\n"
                                      "robot:\n"
                                      "  talker:\n"
                                      "    ros__parameters:\n"
                                      "      nested_keys: 6\n"
                                      "/*/*/talker:\n"
                                      "  ros__parameters:\n"
                                      "    two_levels: 7\n");
  auto node = make_node({"--ros-args", "-r", "__ns:=/robot", "--params-file", path});
  ASSERT_STREQ(node->get_fully_qualified_name(), "/robot/talker");
  EXPECT_EQ(node->get_parameter("everywhere").as_int(), 1);
  EXPECT_EQ(node->get_parameter("one_level").as_int(), 2);
  EXPECT_EQ(node->get_parameter("any_depth").as_int(), 3);
  EXPECT_FALSE(node->has_parameter("root_talker_only")) << "'talker' means /talker";
  EXPECT_EQ(node->get_parameter("full_name").as_int(), 5);
  EXPECT_EQ(node->get_parameter("nested_keys").as_int(), 6);
  EXPECT_FALSE(node->has_parameter("two_levels"));

  // /talker at the root: matched by "talker", "/**" and "/**/talker", not by "/*/talker".
  auto root = make_node({"--ros-args", "--params-file", path});
  EXPECT_EQ(root->get_parameter("root_talker_only").as_int(), 4);
  EXPECT_EQ(root->get_parameter("any_depth").as_int(), 3);
  EXPECT_FALSE(root->has_parameter("one_level"));
  EXPECT_FALSE(root->has_parameter("nested_keys"));
}

TEST(ParameterTyping, ParameterFileValuesOfMixedTypesAreRefused) {
  auto context = std::make_shared<rclcpp::Context>();
  for (const char* body :
       {"    mixed: [1, two]\n", "    numbers: [1, 2.5]\n", "    nested_list: [[1], [2]]\n"}) {
    const std::string path =
        write_file("params_mixed.yaml", std::string("talker:\n  ros__parameters:\n") + body);
    const char* argv[] = {"prog", "--ros-args", "--params-file", path.c_str()};
    try {
      context->init(4, argv);
      ADD_FAILURE() << "accepted: " << body;
      context->shutdown("next case");
    } catch (const rclcpp::exceptions::RCLInvalidROSArgsError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  // Typed like -p values: a quoted number is a string, a bare one a number.
  const std::string path = write_file("params_typed.yaml",
                                      "talker:\n  ros__parameters:\n"
                                      "    id: \"12\"\n    count: 12\n    ratio: 12.0\n"
                                      "    flags: [true, false]\n    names: ['1', '2']\n");
  auto node = make_node({"--ros-args", "--params-file", path});
  EXPECT_EQ(node->get_parameter("id").get_type(), rclcpp::PARAMETER_STRING);
  EXPECT_EQ(node->get_parameter("count").get_type(), rclcpp::PARAMETER_INTEGER);
  EXPECT_EQ(node->get_parameter("ratio").get_type(), rclcpp::PARAMETER_DOUBLE);
  EXPECT_EQ(node->get_parameter("flags").as_bool_array(), (std::vector<bool>{true, false}));
  EXPECT_EQ(node->get_parameter("names").as_string_array(), (std::vector<std::string>{"1", "2"}));
}
