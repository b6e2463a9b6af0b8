// Message routing, keep-last queues, transient-local history, callback groups on executors,
// and signal-driven shutdown.
#include <gtest/gtest.h>

#include <builtin_interfaces/msg/time.hpp>
#include <std_msgs/msg/header.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/rclcpp.hpp"

namespace {

using Header = std_msgs::msg::Header;

class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = std::make_shared<rclcpp::Context>();
    context_->init(0, nullptr);
    rclcpp::NodeOptions options;
    options.context(context_);
    node_ = std::make_shared<rclcpp::Node>("graph_test", options);
    executor_options_.context = context_;
  }
  void TearDown() override { context_->shutdown("test end"); }

  Header header(const std::string& frame) {
    Header h;
    h.frame_id = frame;
    return h;
  }

  rclcpp::Context::SharedPtr context_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::ExecutorOptions executor_options_;
};

}  // namespace

TEST_F(GraphTest, KeepLastDropsTheOldest) {
  std::vector<std::string> received;
  auto sub = node_->create_subscription<Header>(
      "scan", rclcpp::QoS(3), [&](const Header& msg) { received.push_back(msg.frame_id); });
  auto pub = node_->create_publisher<Header>("scan", 10);
  for (const char* frame : {"0", "1", "2", "3", "4"}) {
    pub->publish(header(frame));
  }
  EXPECT_EQ(sub->queued_message_count(), 3u);
  rclcpp::executors::SingleThreadedExecutor executor(executor_options_);
  executor.add_node(node_);
  executor.spin_some();
  EXPECT_EQ(received, (std::vector<std::string>{"2", "3", "4"}));
}

TEST_F(GraphTest, OneSharedMessageReachesEverySubscription) {
  std::vector<const Header*> seen;
  auto keep = [&](std::shared_ptr<const Header> msg) { seen.push_back(msg.get()); };
  auto first = node_->create_subscription<Header>("scan", 10, keep);
  auto second = node_->create_subscription<Header>("/scan", rclcpp::SensorDataQoS(), keep);
  auto other_topic = node_->create_subscription<Header>("other", 10, keep);
  auto pub = node_->create_publisher<Header>("scan", 10);
  EXPECT_EQ(pub->get_subscription_count(), 2u);

  auto owned = std::make_unique<Header>();
  const Header* address = owned.get();
  pub->publish(std::move(owned));
  rclcpp::executors::SingleThreadedExecutor executor(executor_options_);
  executor.add_node(node_);
  executor.spin_some();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], address);
  EXPECT_EQ(seen[1], address);
}

TEST_F(GraphTest, QosMismatchBlocksDelivery) {
  int received = 0;
  // A reliable subscription is not served by a best-effort publisher.
  testing::internal::CaptureStderr();
  auto sub = node_->create_subscription<Header>("scan", 10, [&](const Header&) { ++received; });
  auto pub = node_->create_publisher<Header>("scan", rclcpp::SensorDataQoS());
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("incompatible QoS"), std::string::npos) << log;
  EXPECT_EQ(pub->get_subscription_count(), 0u);
  pub->publish(Header());
  EXPECT_EQ(sub->queued_message_count(), 0u);
}

TEST_F(GraphTest, QosIsMatchedAsRequestedAgainstOffered) {
  rclcpp::executors::SingleThreadedExecutor executor(executor_options_);
  executor.add_node(node_);
  {
    // A transient-local subscription asks for more than a volatile publisher offers.
    int received = 0;
    testing::internal::CaptureStderr();
    auto sub = node_->create_subscription<Header>("durable", rclcpp::QoS(5).transient_local(),
                                                  [&](const Header&) { ++received; });
    auto pub = node_->create_publisher<Header>("durable", 5);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Last incompatible policy: DURABILITY_QOS_POLICY"), std::string::npos)
        << log;
    EXPECT_EQ(pub->get_subscription_count(), 0u);
    EXPECT_EQ(sub->get_publisher_count(), 0u);
    pub->publish(header("lost"));
    executor.spin_some();
    EXPECT_EQ(received, 0);
  }
  {
    // Offering more than asked is fine: a reliable, transient-local publisher serves a
    // best-effort, volatile subscription.
    std::vector<std::string> received;
    auto sub = node_->create_subscription<Header>(
        "sensor", rclcpp::SensorDataQoS(),
        [&](const Header& msg) { received.push_back(msg.frame_id); });
    auto pub =
        node_->create_publisher<Header>("sensor", rclcpp::QoS(10).reliable().transient_local());
    EXPECT_EQ(pub->get_subscription_count(), 1u);
    pub->publish(header("delivered"));
    executor.spin_some();
    EXPECT_EQ(received, (std::vector<std::string>{"delivered"}));
  }
  {
    // Same topic name, another message type: no match.
    int received = 0;
    auto sub = node_->create_subscription<Header>("typed", 10, [&](const Header&) { ++received; });
    auto pub = node_->create_publisher<builtin_interfaces::msg::Time>("typed", 10);
    EXPECT_EQ(pub->get_subscription_count(), 0u);
    pub->publish(builtin_interfaces::msg::Time());
    executor.spin_some();
    EXPECT_EQ(received, 0);
  }
}

TEST_F(GraphTest, MutableCallbacksGetTheirOwnCopy) {
  // Callbacks taking unique_ptr<M> or shared_ptr<M> may change the message; no other
  // subscription may see the change, whatever the order they run in.
  std::vector<std::string> seen;
  auto by_unique = node_->create_subscription<Header>("edit", 10, [&](std::unique_ptr<Header> msg) {
    seen.push_back("unique:" + msg->frame_id);
    msg->frame_id = "changed by unique";
  });
  auto by_shared = node_->create_subscription<Header>("edit", 10, [&](std::shared_ptr<Header> msg) {
    seen.push_back("shared:" + msg->frame_id);
    msg->frame_id = "changed by shared";
  });
  auto by_reference = node_->create_subscription<Header>(
      "edit", 10, [&](const Header& msg) { seen.push_back("const:" + msg.frame_id); });
  auto pub = node_->create_publisher<Header>("edit", 10);
  const Header original = header("original");
  pub->publish(original);
  rclcpp::executors::SingleThreadedExecutor executor(executor_options_);
  executor.add_node(node_);
  executor.spin_some();
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen,
            (std::vector<std::string>{"const:original", "shared:original", "unique:original"}));
  EXPECT_EQ(original.frame_id, "original");
}

TEST_F(GraphTest, TransientLocalHandsHistoryToLateSubscriptions) {
  auto pub = node_->create_publisher<Header>("/tf_static_test", rclcpp::QoS(2).transient_local());
  for (const char* frame : {"a", "b", "c"}) {
    pub->publish(header(frame));
  }
  std::vector<std::string> late;
  auto late_sub =
      node_->create_subscription<Header>("/tf_static_test", rclcpp::QoS(10).transient_local(),
                                         [&](const Header& msg) { late.push_back(msg.frame_id); });
  int volatile_count = 0;
  auto volatile_sub = node_->create_subscription<Header>("/tf_static_test", 10,
                                                         [&](const Header&) { ++volatile_count; });
  rclcpp::executors::SingleThreadedExecutor executor(executor_options_);
  executor.add_node(node_);
  executor.spin_some();
  EXPECT_EQ(late, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(volatile_count, 0);
}

TEST_F(GraphTest, RemappingAppliesToTopics) {
  rclcpp::NodeOptions options;
  options.context(context_).arguments(
      {"--ros-args", "-r", "scan:=/lidar/points", "-r", "__node:=renamed", "-r", "__ns:=/robot"});
  auto node = std::make_shared<rclcpp::Node>("original", options);
  EXPECT_STREQ(node->get_name(), "renamed");
  EXPECT_STREQ(node->get_fully_qualified_name(), "/robot/renamed");
  EXPECT_EQ(node->resolve_topic_name("scan"), "/lidar/points");
  EXPECT_EQ(node->resolve_topic_name("other"), "/robot/other");
  EXPECT_EQ(node->resolve_topic_name("~/debug"), "/robot/renamed/debug");
  EXPECT_THROW(node->resolve_topic_name("bad topic"), rclcpp::exceptions::InvalidTopicNameError);
}

namespace {

// Runs `count` messages through one group on a 4-thread executor and reports the largest
// number of callbacks that ran at the same time. Each callback waits (bounded) for a second
// one to arrive, so a group that allows overlap shows it whatever the scheduling.
int peak_concurrency(const rclcpp::Node::SharedPtr& node, rclcpp::CallbackGroupType type,
                     const rclcpp::ExecutorOptions& executor_options, int count) {
  auto group = node->create_callback_group(type);
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;
  int peak = 0;
  int done = 0;
  rclcpp::executors::MultiThreadedExecutor executor(executor_options, 4);
  rclcpp::SubscriptionOptions options;
  options.callback_group = group;
  auto sub = node->create_subscription<Header>(
      "work", rclcpp::QoS(100),
      [&](std::shared_ptr<const Header>) {
        std::unique_lock<std::mutex> lock(mutex);
        ++running;
        peak = std::max(peak, running);
        changed.notify_all();
        changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return running >= 2; });
        --running;
        if (++done == count) {
          executor.cancel();
        }
      },
      options);
  auto pub = node->create_publisher<Header>("work", 100);
  for (int i = 0; i < count; ++i) {
    pub->publish(Header());
  }
  executor.add_node(node);
  executor.spin();
  EXPECT_EQ(done, count);
  return peak;
}

}  // namespace

TEST_F(GraphTest, MutuallyExclusiveGroupsNeverOverlapReentrantOnesDo) {
  EXPECT_EQ(
      peak_concurrency(node_, rclcpp::CallbackGroupType::MutuallyExclusive, executor_options_, 6),
      1);
  rclcpp::NodeOptions options;
  options.context(context_);
  auto second = std::make_shared<rclcpp::Node>("reentrant_test", options);
  EXPECT_GE(peak_concurrency(second, rclcpp::CallbackGroupType::Reentrant, executor_options_, 6),
            2);
}

TEST_F(GraphTest, CallbackExceptionEndsSpinAndReachesCaller) {
  auto sub = node_->create_subscription<Header>(
      "boom", 10, [](const Header&) { throw std::runtime_error("callback failed"); });
  auto pub = node_->create_publisher<Header>("boom", 10);
  pub->publish(Header());
  rclcpp::executors::MultiThreadedExecutor executor(executor_options_, 3);
  executor.add_node(node_);
  EXPECT_THROW(executor.spin(), std::runtime_error);
}

TEST_F(GraphTest, ContextShutdownEndsSpinAndSilencesPublishers) {
  auto pub = node_->create_publisher<Header>("late", 10);
  auto timer = node_->create_wall_timer(std::chrono::milliseconds(1),
                                        [this] { context_->shutdown("from timer"); });
  rclcpp::executors::MultiThreadedExecutor executor(executor_options_, 3);
  executor.add_node(node_);
  executor.spin();
  EXPECT_FALSE(context_->is_valid());
  EXPECT_EQ(context_->shutdown_reason(), "from timer");
  EXPECT_NO_THROW(pub->publish(Header()));
}

TEST(SignalHandling, SigintEndsSpin) {
  const char* argv[] = {"signal_test"};
  rclcpp::init(1, argv, rclcpp::InitOptions(rcutils_get_default_allocator()),
               rclcpp::SignalHandlerOptions::All);
  ASSERT_TRUE(rclcpp::ok());
  auto node = std::make_shared<rclcpp::Node>("signal_node");
  auto timer = node->create_wall_timer(std::chrono::milliseconds(5), [] { std::raise(SIGINT); });
  auto executor = std::make_shared<rclcpp::executors::MultiThreadedExecutor>(
      rclcpp::ExecutorOptions(), 3, true, std::chrono::nanoseconds(-1));
  executor->add_node(node->get_node_base_interface(), true);
  executor->spin();
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_EQ(rclcpp::contexts::get_global_default_context()->shutdown_reason(), "signal handler");
  rclcpp::shutdown(nullptr, "user called rclcpp::shutdown()");
  EXPECT_FALSE(rclcpp::signal_handlers_installed());
}
