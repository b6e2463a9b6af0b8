// A build without LibTorch, as on a stock ROS 2 robot: the node runs, and asking it for the 3-D box
// detector fails configuration with lines that name the missing runtime.
#include <gtest/gtest.h>

#include <string>

#include <lifecycle_msgs/msg/state.hpp>

#include "node_harness.hpp"

namespace lidar_perception {
namespace {

TEST(WithoutInferenceRuntime, PostFusionFailsConfigurationAndSaysWhy) {
  LogCapture log;
  NodeHarness harness({"-p", "debug:=false", "-p", "post_fusion.enable:=true"});
  EXPECT_FALSE(harness.node().configured());
  EXPECT_EQ(harness.node().get_current_state().id(),
            lifecycle_msgs::msg::State::PRIMARY_STATE_UNCONFIGURED);
  bool runtime_named = false;
  bool detector_named = false;
  for (const std::string& line : log.lines()) {
    runtime_named |= line.find("this build has no TorchScript runtime") != std::string::npos;
    detector_named |= line.find("3-D box detector could not be created") != std::string::npos;
  }
  EXPECT_TRUE(runtime_named) << "no line names the missing inference runtime";
  EXPECT_TRUE(detector_named) << "no line says that post-fusion cannot run";
}

TEST(WithoutInferenceRuntime, TheNodeConfiguresWithoutPostFusion) {
  NodeHarness harness({"-p", "debug:=false"});
  EXPECT_TRUE(harness.node().configured());
}

}  // namespace
}  // namespace lidar_perception
