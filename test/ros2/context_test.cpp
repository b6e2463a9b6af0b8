// Shutdown of a context: what pre-shutdown callbacks see and when the context becomes invalid.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/context.hpp"

namespace {

using namespace std::chrono_literals;

TEST(ContextShutdown, PreShutdownCallbacksRunWhileValidAndBeforeOnShutdownOnes) {
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  std::vector<std::string> order;
  context->add_pre_shutdown_callback(
      [&] { order.push_back(context->is_valid() ? "pre: valid" : "pre: invalid"); });
  context->add_on_shutdown_callback(
      [&] { order.push_back(context->is_valid() ? "on: valid" : "on: invalid"); });
  ASSERT_TRUE(context->shutdown("test"));
  EXPECT_EQ(order, (std::vector<std::string>{"pre: valid", "on: invalid"}));
  EXPECT_FALSE(context->shutdown("again"));
}

TEST(ContextShutdown, ABlockingPreShutdownCallbackKeepsTheContextValidUntilItReturns) {
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  context->add_pre_shutdown_callback([&] {
    entered = true;
    while (!release) {
      std::this_thread::sleep_for(1ms);
    }
  });
  std::thread stopper([&] { context->shutdown("signal"); });
  while (!entered) {
    std::this_thread::sleep_for(1ms);
  }
  std::this_thread::sleep_for(50ms);
  // The work the callback waits for can still use the context.
  EXPECT_TRUE(context->is_valid());
  release = true;
  stopper.join();
  EXPECT_FALSE(context->is_valid());
}

TEST(ContextShutdown, ARemovedPreShutdownCallbackIsNotCalled) {
  auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  bool called = false;
  const auto handle = context->add_pre_shutdown_callback([&] { called = true; });
  EXPECT_TRUE(context->remove_pre_shutdown_callback(handle));
  EXPECT_FALSE(context->remove_pre_shutdown_callback(handle));
  context->shutdown("test");
  EXPECT_FALSE(called);
}

}  // namespace
