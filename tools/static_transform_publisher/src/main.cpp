// static_transform_publisher: sends one transform on /tf_static, latched, and keeps the node
// alive (its transient-local publisher answers late listeners) until SIGINT.
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include <tf2_ros/static_transform_broadcaster.h>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <rclcpp/rclcpp.hpp>
#include <tool_cli/command_line.hpp>

#include "static_transform_publisher/transform_arguments.hpp"
#include "static_transform_publisher/usage_error.hpp"

namespace {

namespace stp = static_transform_publisher;

// Several publishers run side by side in one launch, so each needs a node name of its own unless
// the user remaps it.
std::string randomNodeName() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device device;
  std::mt19937 generator(device());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kChars) - 2);
  std::string name = "static_transform_publisher_";
  for (int i = 0; i < 16; ++i) {
    name += kChars[pick(generator)];
  }
  return name;
}

int run(const std::vector<std::string>& args_with_program) {
  const std::vector<std::string> args(args_with_program.begin() + 1, args_with_program.end());
  stp::TransformArguments transform;
  try {
    transform = stp::parseTransformArguments(args);
  } catch (const stp::UsageError& error) {
    std::fprintf(stderr, "static_transform_publisher: %s\n\n%s", error.what(),
                 stp::usageText().c_str());
    return 2;
  }
  auto node = std::make_shared<rclcpp::Node>(randomNodeName());
  if (transform.old_style) {
    RCLCPP_WARN(node->get_logger(),
                "Old-style arguments are deprecated; see --help for new-style arguments");
  }
  geometry_msgs::msg::TransformStamped message;
  message.header.stamp = node->now();
  message.header.frame_id = transform.frame_id;
  message.child_frame_id = transform.child_frame_id;
  message.transform.translation.x = transform.x;
  message.transform.translation.y = transform.y;
  message.transform.translation.z = transform.z;
  message.transform.rotation.x = transform.rotation.x;
  message.transform.rotation.y = transform.rotation.y;
  message.transform.rotation.z = transform.rotation.z;
  message.transform.rotation.w = transform.rotation.w;
  tf2_ros::StaticTransformBroadcaster broadcaster(node);
  broadcaster.sendTransform(message);
  RCLCPP_INFO(node->get_logger(),
              "Spinning until stopped - publishing transform\n"
              "translation: ('%lf', '%lf', '%lf')\n"
              "rotation: ('%lf', '%lf', '%lf', '%lf')\n"
              "from '%s' to '%s'",
              transform.x, transform.y, transform.z, transform.rotation.x, transform.rotation.y,
              transform.rotation.z, transform.rotation.w, transform.frame_id.c_str(),
              transform.child_frame_id.c_str());
  rclcpp::spin(node);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (tool_cli::helpRequested(argc, argv)) {
    std::printf("%s", stp::usageText().c_str());
    return 0;
  }
  return tool_cli::runRosTool("static_transform_publisher", argc, argv, run);
}
