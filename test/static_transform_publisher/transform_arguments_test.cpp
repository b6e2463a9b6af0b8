#include "static_transform_publisher/transform_arguments.hpp"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "static_transform_publisher/usage_error.hpp"

namespace {

using static_transform_publisher::parseTransformArguments;
using static_transform_publisher::TransformArguments;
using static_transform_publisher::UsageError;

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string word; in >> word;) {
    out.push_back(word);
  }
  return out;
}

TransformArguments parse(const std::string& line) {
  return parseTransformArguments(words(line));
}

const double kHalfRoot = std::sqrt(0.5);

TEST(TransformArguments, FlagsWithAQuaternion) {
  const TransformArguments t = parse(
      "--x 1 --y -2 --z 3.5 --qx 0 --qy 0 --qz 1 --qw 1 --frame-id world --child-frame-id base");
  EXPECT_EQ(t.x, 1.0);
  EXPECT_EQ(t.y, -2.0);
  EXPECT_EQ(t.z, 3.5);
  EXPECT_NEAR(t.rotation.z, kHalfRoot, 1e-15);
  EXPECT_NEAR(t.rotation.w, kHalfRoot, 1e-15);
  EXPECT_EQ(t.frame_id, "world");
  EXPECT_EQ(t.child_frame_id, "base");
  EXPECT_FALSE(t.old_style);
}

TEST(TransformArguments, MissingNumbersMeanNoTranslationAndNoRotation) {
  const TransformArguments t = parse("--child-frame-id laser --frame-id base_link");
  EXPECT_EQ(t.x, 0.0);
  EXPECT_EQ(t.y, 0.0);
  EXPECT_EQ(t.z, 0.0);
  EXPECT_EQ(t.rotation.x, 0.0);
  EXPECT_EQ(t.rotation.y, 0.0);
  EXPECT_EQ(t.rotation.z, 0.0);
  EXPECT_EQ(t.rotation.w, 1.0);
  EXPECT_EQ(t.frame_id, "base_link");
  EXPECT_EQ(t.child_frame_id, "laser");
  // A partial quaternion keeps w = 1 when w is not given.
  const TransformArguments z = parse("--qz 1 --frame-id a --child-frame-id b");
  EXPECT_NEAR(z.rotation.z, kHalfRoot, 1e-15);
  EXPECT_NEAR(z.rotation.w, kHalfRoot, 1e-15);
}

TEST(TransformArguments, FlagsWithEulerAngles) {
  const TransformArguments t =
      parse("--yaw 1.5707963267948966 --frame-id a --child-frame-id b --x -0.5");
  EXPECT_EQ(t.x, -0.5);
  EXPECT_NEAR(t.rotation.z, kHalfRoot, 1e-15);
  EXPECT_NEAR(t.rotation.w, kHalfRoot, 1e-15);
  const TransformArguments r = parse("--roll 3.141592653589793 --frame-id a --child-frame-id b");
  EXPECT_NEAR(r.rotation.x, 1.0, 1e-15);
  EXPECT_NEAR(r.rotation.w, 0.0, 1e-15);
}

TEST(TransformArguments, PositionalFormsAreOldStyle) {
  // x y z yaw pitch roll frame child.
  const TransformArguments euler = parse("1 2 3 1.5707963267948966 0 0 map odom");
  EXPECT_TRUE(euler.old_style);
  EXPECT_EQ(euler.x, 1.0);
  EXPECT_EQ(euler.z, 3.0);
  EXPECT_NEAR(euler.rotation.z, kHalfRoot, 1e-15);
  EXPECT_EQ(euler.frame_id, "map");
  EXPECT_EQ(euler.child_frame_id, "odom");
  // The fourth number is yaw, the sixth roll.
  const TransformArguments roll = parse("0 0 0 0 0 3.141592653589793 map odom");
  EXPECT_NEAR(roll.rotation.x, 1.0, 1e-15);
  // x y z qx qy qz qw frame child, normalised.
  const TransformArguments quaternion = parse("0 0 -1 0 0 0 2 map odom");
  EXPECT_TRUE(quaternion.old_style);
  EXPECT_EQ(quaternion.z, -1.0);
  EXPECT_EQ(quaternion.rotation.w, 1.0);
}

TEST(TransformArguments, ShapeErrorsAreUsageErrors) {
  for (const char* line :
       {"", "--frame-id a", "--child-frame-id b", "--frame-id  --child-frame-id b",
        "--foo 1 --frame-id a --child-frame-id b", "--x --frame-id a --child-frame-id b",
        "--frame-id a --child-frame-id b --x", "--frame-id a --child-frame-id",
        "--qx 1 --yaw 1 --frame-id a --child-frame-id b",
        "--qw 1 --roll 0 --frame-id a --child-frame-id b", "1 --frame-id a --child-frame-id b",
        "1 2 3 4 5 6 a", "1 2 3 4 5 6 7 8 a b"}) {
    EXPECT_THROW(parse(line), UsageError) << "'" << line << "'";
  }
  EXPECT_THROW(parseTransformArguments({"--frame-id", "", "--child-frame-id", "b"}), UsageError);
}

TEST(TransformArguments, BadValuesAreNotUsageErrors) {
  const auto expectValueError = [](const std::string& line, const std::string& fragment) {
    try {
      parse(line);
      ADD_FAILURE() << "accepted '" << line << "'";
    } catch (const UsageError& error) {
      ADD_FAILURE() << "usage error for '" << line << "': " << error.what();
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos)
          << "'" << error.what() << "' lacks '" << fragment << "'";
    }
  };
  expectValueError("--x abc --frame-id a --child-frame-id b", "--x: 'abc' is not a finite number");
  expectValueError("--y 1.5m --frame-id a --child-frame-id b", "--y: '1.5m'");
  expectValueError("--z nan --frame-id a --child-frame-id b", "--z: 'nan'");
  expectValueError("--yaw inf --frame-id a --child-frame-id b", "--yaw: 'inf'");
  expectValueError("--x 1e999 --frame-id a --child-frame-id b", "--x: '1e999'");
  expectValueError("--qw 0 --frame-id a --child-frame-id b", "norm 0");
  expectValueError("--frame-id base --child-frame-id base", "from frame 'base' to itself");
  expectValueError("0 0 0 0 0 0 0 a b", "norm 0");
  expectValueError("0 0 0 0 0 0 map map", "from frame 'map' to itself");
  expectValueError("0 x 0 0 0 0 map odom", "y: 'x'");
}

}  // namespace
