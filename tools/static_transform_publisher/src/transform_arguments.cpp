#include "static_transform_publisher/transform_arguments.hpp"

#include <cmath>
#include <map>
#include <stdexcept>

#include "static_transform_publisher/usage_error.hpp"

namespace static_transform_publisher {

namespace {

double number(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  double value = 0.0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(value)) {
    throw std::invalid_argument(option + ": '" + text + "' is not a finite number");
  }
  return value;
}

TransformArguments positional(const std::vector<std::string>& args) {
  TransformArguments out;
  out.old_style = true;
  out.x = number("x", args[0]);
  out.y = number("y", args[1]);
  out.z = number("z", args[2]);
  if (args.size() == 8) {
    const double yaw = number("yaw", args[3]);
    const double pitch = number("pitch", args[4]);
    const double roll = number("roll", args[5]);
    out.rotation = fromRollPitchYaw(roll, pitch, yaw);
  } else {
    out.rotation = normalized({number("qx", args[3]), number("qy", args[4]), number("qz", args[5]),
                               number("qw", args[6])});
  }
  out.frame_id = args[args.size() - 2];
  out.child_frame_id = args[args.size() - 1];
  return out;
}

const std::string& valueOf(const std::vector<std::string>& args, std::size_t& i) {
  // No value starts with "--" (negative numbers have one dash), so such a word is the next option.
  if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
    throw UsageError(args[i] + " needs a value");
  }
  return args[++i];
}

TransformArguments flags(const std::vector<std::string>& args) {
  static const char* const kNumbers[] = {"--x",  "--y",  "--z",    "--qx",    "--qy",
                                         "--qz", "--qw", "--roll", "--pitch", "--yaw"};
  std::map<std::string, double> numbers;
  TransformArguments out;
  bool frame_given = false;
  bool child_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--frame-id") {
      out.frame_id = valueOf(args, i);
      frame_given = true;
      continue;
    }
    if (option == "--child-frame-id") {
      out.child_frame_id = valueOf(args, i);
      child_given = true;
      continue;
    }
    bool known = false;
    for (const char* name : kNumbers) {
      known = known || option == name;
    }
    if (!known) {
      throw UsageError("unknown argument '" + option + "'");
    }
    const std::string& text = valueOf(args, i);
    numbers[option] = number(option, text);
  }
  const auto given = [&numbers](const char* name) { return numbers.count(name) > 0; };
  const auto value = [&numbers](const char* name, double fallback) {
    const auto found = numbers.find(name);
    return found == numbers.end() ? fallback : found->second;
  };
  const bool quaternion = given("--qx") || given("--qy") || given("--qz") || given("--qw");
  const bool euler = given("--roll") || given("--pitch") || given("--yaw");
  if (quaternion && euler) {
    throw UsageError(
        "give the rotation either as a quaternion (--qx --qy --qz --qw) or as "
        "Euler angles (--roll --pitch --yaw), not both");
  }
  if (!frame_given || out.frame_id.empty()) {
    throw UsageError("--frame-id is required and must not be empty");
  }
  if (!child_given || out.child_frame_id.empty()) {
    throw UsageError("--child-frame-id is required and must not be empty");
  }
  out.x = value("--x", 0.0);
  out.y = value("--y", 0.0);
  out.z = value("--z", 0.0);
  if (euler) {
    out.rotation =
        fromRollPitchYaw(value("--roll", 0.0), value("--pitch", 0.0), value("--yaw", 0.0));
  } else {
    out.rotation = normalized(
        {value("--qx", 0.0), value("--qy", 0.0), value("--qz", 0.0), value("--qw", 1.0)});
  }
  return out;
}

}  // namespace

TransformArguments parseTransformArguments(const std::vector<std::string>& args) {
  bool any_flag = false;
  for (const std::string& arg : args) {
    any_flag = any_flag || arg.rfind("--", 0) == 0;
  }
  TransformArguments out;
  if (any_flag) {
    out = flags(args);
  } else if (args.size() == 8 || args.size() == 9) {
    out = positional(args);
  } else {
    throw UsageError(
        "expected --frame-id and --child-frame-id options, or 8 or 9 positional "
        "arguments; got " +
        std::to_string(args.size()) + " positional arguments");
  }
  if (out.frame_id.empty() || out.child_frame_id.empty()) {
    throw UsageError("frame ids must not be empty");
  }
  if (out.frame_id == out.child_frame_id) {
    throw std::invalid_argument("cannot publish a transform from frame '" + out.frame_id +
                                "' to itself: the child frame must differ from its parent");
  }
  return out;
}

std::string usageText() {
  return "A command line utility for manually sending a static transform.\n"
         "\n"
         "Usage: static_transform_publisher --x x --y y --z z --qx qx --qy qy --qz qz --qw qw "
         "--frame-id frame_id --child-frame-id child_frame_id\n"
         "\n"
         "OR\n"
         "\n"
         "Usage: static_transform_publisher --x x --y y --z z --roll roll --pitch pitch --yaw yaw "
         "--frame-id frame_id --child-frame-id child_frame_id\n"
         "\n"
         "All arguments are optional except for the frame IDs.\n"
         "Translation is in meters (default 0), rotation is a quaternion (normalised; default "
         "identity)\n"
         "or Euler angles in radians (roll about x, pitch about y, yaw about z).\n"
         "Both forms may not be mixed.\n"
         "\n"
         "Deprecated positional forms:\n"
         "  static_transform_publisher x y z yaw pitch roll frame_id child_frame_id\n"
         "  static_transform_publisher x y z qx qy qz qw frame_id child_frame_id\n"
         "\n"
         "ROS arguments follow --ros-args, e.g. --ros-args -r __node:=my_name\n";
}

}  // namespace static_transform_publisher
