// Messages between two contexts over DDS: each context is its own DDS participant, so what one
// publishes reaches the other only through the wire, as between two processes.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/header.hpp>

#include "raw_participant.hpp"
#include "rclcpp/executors.hpp"
#include "rclcpp/node.hpp"
#include "ros2_core/cdr_serialization.hpp"
#include "ros2_dds/cdr_sertype.hpp"
#include "ros2_dds/dds_domain.hpp"
#include "ros2_dds/dds_transport.hpp"
#include "ros2_dds/message_memory.hpp"

namespace {

using namespace std::chrono_literals;
using std_msgs::msg::Header;

template <typename Predicate>
bool eventually(Predicate done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

Header header(int seq) {
  Header h;
  h.frame_id = "frame_" + std::to_string(seq);
  h.stamp.sec = seq;
  return h;
}

// A context of its own with one node, spun by a thread of its own.
class Peer {
 public:
  explicit Peer(const std::string& name) : context_(std::make_shared<rclcpp::Context>()) {
    context_->init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>(name, rclcpp::NodeOptions().context(context_));
  }
  ~Peer() { stop(); }

  rclcpp::Node& node() { return *node_; }
  rclcpp::Context::SharedPtr context() { return context_; }

  void spin() {
    rclcpp::ExecutorOptions options;
    options.context = context_;
    executor_ = std::make_shared<rclcpp::executors::SingleThreadedExecutor>(options);
    executor_->add_node(node_);
    thread_ = std::thread([this] { executor_->spin(); });
  }

  void stop() {
    if (executor_ != nullptr) {
      executor_->cancel();
    }
    if (thread_.joinable()) {
      thread_.join();
    }
    context_->shutdown("test over");
  }

 private:
  rclcpp::Context::SharedPtr context_;
  rclcpp::Node::SharedPtr node_;
  std::shared_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread thread_;
};

// Collects what a subscription hears, safe to read from the test thread.
class Heard {
 public:
  void add(const Header& h) {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(h.frame_id);
  }
  std::vector<std::string> frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  std::size_t size() const { return frames().size(); }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> frames_;
};

TEST(DdsTransport, ReliableMessagesArriveInOrderWithoutLoss) {
  Peer sender("sender");
  Peer receiver("receiver");
  Heard heard;
  auto sub = receiver.node().create_subscription<Header>("/chatter", rclcpp::QoS(100),
                                                         [&](const Header& h) { heard.add(h); });
  auto pub = sender.node().create_publisher<Header>("/chatter", rclcpp::QoS(100));
  receiver.spin();
  ASSERT_TRUE(eventually([&] { return pub->get_subscription_count() == 1; }));
  EXPECT_TRUE(eventually([&] { return sub->get_publisher_count() == 1; }));
  for (int i = 0; i < 50; ++i) {
    pub->publish(header(i));
  }
  ASSERT_TRUE(eventually([&] { return heard.size() >= 50; }));
  std::vector<std::string> expected;
  for (int i = 0; i < 50; ++i) {
    expected.push_back("frame_" + std::to_string(i));
  }
  EXPECT_EQ(heard.frames(), expected);
}

TEST(DdsTransport, KeepLastSubscriptionKeepsTheNewestWhileNotSpun) {
  Peer sender("sender");
  Peer receiver("receiver");
  Heard heard;
  auto sub = receiver.node().create_subscription<Header>("/chatter", rclcpp::QoS(3),
                                                         [&](const Header& h) { heard.add(h); });
  auto pub = sender.node().create_publisher<Header>("/chatter", rclcpp::QoS(10));
  ASSERT_TRUE(eventually([&] { return pub->get_subscription_count() == 1; }));
  for (int i = 0; i < 10; ++i) {
    pub->publish(header(i));
  }
  // Nothing spins the receiver yet: its queue of three keeps the newest.
  std::this_thread::sleep_for(300ms);
  receiver.spin();
  ASSERT_TRUE(eventually([&] { return heard.size() >= 3; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(heard.frames(), (std::vector<std::string>{"frame_7", "frame_8", "frame_9"}));
}

TEST(DdsTransport, TransientLocalHistoryReachesALateJoiner) {
  Peer sender("sender");
  auto qos = rclcpp::QoS(2).transient_local();
  auto pub = sender.node().create_publisher<Header>("/latched", qos);
  for (int i = 0; i < 5; ++i) {
    pub->publish(header(i));
  }
  Peer receiver("receiver");
  Heard heard;
  auto sub = receiver.node().create_subscription<Header>("/latched", qos,
                                                         [&](const Header& h) { heard.add(h); });
  receiver.spin();
  ASSERT_TRUE(eventually([&] { return heard.size() >= 2; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(heard.frames(), (std::vector<std::string>{"frame_3", "frame_4"}));
}

TEST(DdsTransport, IncompatibleQosDoesNotMatch) {
  Peer sender("sender");
  Peer receiver("receiver");
  Heard heard;
  auto sub = receiver.node().create_subscription<Header>("/chatter", rclcpp::QoS(10).reliable(),
                                                         [&](const Header& h) { heard.add(h); });
  auto best_effort =
      sender.node().create_publisher<Header>("/chatter", rclcpp::QoS(10).best_effort());
  auto reliable = sender.node().create_publisher<Header>("/chatter", rclcpp::QoS(10));
  receiver.spin();
  ASSERT_TRUE(eventually([&] { return reliable->get_subscription_count() == 1; }));
  EXPECT_EQ(best_effort->get_subscription_count(), 0u);
  best_effort->publish(header(1));
  reliable->publish(header(2));
  ASSERT_TRUE(eventually([&] { return heard.size() >= 1; }));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(heard.frames(), std::vector<std::string>{"frame_2"});
}

TEST(DdsTransport, APublisherThatVanishesAndReturnsIsHeardAgain) {
  Peer receiver("receiver");
  Heard heard;
  auto sub = receiver.node().create_subscription<Header>("/chatter", rclcpp::QoS(10),
                                                         [&](const Header& h) { heard.add(h); });
  receiver.spin();
  {
    Peer sender("sender");
    auto pub = sender.node().create_publisher<Header>("/chatter", rclcpp::QoS(10));
    ASSERT_TRUE(eventually([&] { return pub->get_subscription_count() == 1; }));
    pub->publish(header(1));
    ASSERT_TRUE(eventually([&] { return heard.size() == 1; }));
  }
  EXPECT_TRUE(eventually([&] { return sub->get_publisher_count() == 0; }));
  Peer sender("sender_again");
  auto pub = sender.node().create_publisher<Header>("/chatter", rclcpp::QoS(10));
  ASSERT_TRUE(eventually([&] { return pub->get_subscription_count() == 1; }));
  pub->publish(header(2));
  ASSERT_TRUE(eventually([&] { return heard.size() == 2; }));
  EXPECT_EQ(heard.frames(), (std::vector<std::string>{"frame_1", "frame_2"}));
}

TEST(DdsTransport, LargePointCloudArrivesIntact) {
  Peer sender("sender");
  Peer receiver("receiver");
  std::mutex mutex;
  std::vector<sensor_msgs::msg::PointCloud2> clouds;
  auto sub = receiver.node().create_subscription<sensor_msgs::msg::PointCloud2>(
      "/cloud", rclcpp::QoS(5), [&](const sensor_msgs::msg::PointCloud2& c) {
        std::lock_guard<std::mutex> lock(mutex);
        clouds.push_back(c);
      });
  auto pub =
      sender.node().create_publisher<sensor_msgs::msg::PointCloud2>("/cloud", rclcpp::QoS(5));
  receiver.spin();
  ASSERT_TRUE(eventually([&] { return pub->get_subscription_count() == 1; }));
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = "lidar";
  cloud.width = 65536;
  cloud.height = 1;
  cloud.point_step = 16;
  cloud.row_step = cloud.width * cloud.point_step;
  cloud.data.resize(cloud.row_step);
  for (std::size_t i = 0; i < cloud.data.size(); ++i) {
    cloud.data[i] = static_cast<std::uint8_t>((i * 131) >> 3);
  }
  pub->publish(cloud);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return !clouds.empty();
  }));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(clouds[0].header.frame_id, "lidar");
  EXPECT_EQ(clouds[0].width, 65536u);
  EXPECT_TRUE(clouds[0].data == cloud.data);
}

// A sink that records deliveries for a transport used without the rclcpp layer.
class RecordingSink : public ros2_core::MessageSink {
 public:
  void deliver(const std::shared_ptr<const void>& message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(static_cast<const Header*>(message.get())->frame_id);
  }
  std::vector<std::string> frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> frames_;
};

TEST(DdsTransport, MalformedSamplesAreDroppedWithTheTopicNamedAndLaterOnesArrive) {
  std::mutex mutex;
  std::vector<std::string> errors;
  const auto settings = ros2_dds::domain_settings_from_environment();
  ros2_dds::DdsTransport receiver(settings, [&](const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex);
    errors.push_back(error);
  });
  auto sink = std::make_shared<RecordingSink>();
  const auto* type_support =
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Header>();
  ros2_core::TopicEndpoint endpoint{"/raw", "std_msgs/msg/Header", {}, type_support, "n", "/"};
  endpoint.qos.depth = 10;
  receiver.subscription_added(1, endpoint, sink);

  // A raw writer on another participant sends bytes of its own making.
  const RawParticipant raw(settings.domain_id);
  const dds_entity_t participant = raw.handle;
  ASSERT_GT(participant, 0);
  ddsi_sertype* sertype = ros2_dds::create_cdr_sertype("std_msgs::msg::dds_::Header_");
  const dds_entity_t topic =
      dds_create_topic_sertype(participant, "rt/raw", &sertype, nullptr, nullptr, nullptr);
  ASSERT_GT(topic, 0);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
  const dds_entity_t writer = dds_create_writer(participant, topic, qos, nullptr);
  dds_delete_qos(qos);
  ASSERT_GT(writer, 0);
  ASSERT_TRUE(eventually([&] {
    dds_publication_matched_status_t status;
    dds_get_publication_matched_status(writer, &status);
    return status.current_count == 1;
  }));
  const auto& members = ros2_core::introspection_members(type_support);
  Header good = header(7);
  std::vector<std::uint8_t> good_bytes = ros2_core::serialize(&good, members);
  // The frame id's length claims far more bytes than the sample holds.
  std::vector<std::uint8_t> lying = good_bytes;
  const std::uint32_t huge = 0x7fffffff;
  std::memcpy(lying.data() + 4 + 8, &huge, sizeof(huge));
  std::vector<std::uint8_t> truncated(good_bytes.begin(), good_bytes.begin() + 10);

  ASSERT_EQ(dds_writecdr(writer, ros2_dds::make_cdr_serdata(sertype, std::move(lying))), 0);
  ASSERT_EQ(dds_writecdr(writer, ros2_dds::make_cdr_serdata(sertype, std::move(truncated))), 0);
  ASSERT_EQ(dds_writecdr(writer, ros2_dds::make_cdr_serdata(sertype, std::move(good_bytes))), 0);
  ASSERT_TRUE(eventually([&] { return !sink->frames().empty(); }));
  EXPECT_EQ(sink->frames(), std::vector<std::string>{"frame_7"});
  // A copy: the receive thread takes the same lock to report, so it must not be held while the
  // participants go.
  const std::vector<std::string> reported = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return errors;
  }();
  ASSERT_EQ(reported.size(), 2u);
  for (const auto& error : reported) {
    EXPECT_NE(error.find("'/raw'"), std::string::npos) << error;
    EXPECT_NE(error.find("std_msgs/msg/Header"), std::string::npos) << error;
  }
}

TEST(DdsTransport, NodesAndTheirEndpointsArePublishedForRos2Tools) {
  Peer peer("graph_node");
  auto pub = peer.node().create_publisher<Header>("/announced", rclcpp::QoS(1));
  auto sub =
      peer.node().create_subscription<Header>("/listened", rclcpp::QoS(1), [](const Header&) {});

  const auto settings = ros2_dds::domain_settings_from_environment();
  const RawParticipant raw(settings.domain_id);
  const dds_entity_t participant = raw.handle;
  ASSERT_GT(participant, 0);
  ddsi_sertype* sertype =
      ros2_dds::create_cdr_sertype("rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_");
  const dds_entity_t topic = dds_create_topic_sertype(participant, "ros_discovery_info", &sertype,
                                                      nullptr, nullptr, nullptr);
  ASSERT_GT(topic, 0);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
  dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
  const dds_entity_t reader = dds_create_reader(participant, topic, qos, nullptr);
  dds_delete_qos(qos);
  ASSERT_GT(reader, 0);

  const auto& members = ros2_core::introspection_members(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
          rmw_dds_common::msg::ParticipantEntitiesInfo>());
  rmw_dds_common::msg::ParticipantEntitiesInfo latest;
  ASSERT_TRUE(eventually([&] {
    ddsi_serdata* sample = nullptr;
    dds_sample_info_t info;
    while (dds_takecdr(reader, &sample, 1, &info, DDS_ANY_STATE) == 1) {
      if (const auto* bytes = ros2_dds::cdr_bytes(sample)) {
        ros2_core::deserialize(*bytes, &latest, members);
      }
      ddsi_serdata_unref(sample);
    }
    return latest.node_entities_info_seq.size() == 1 &&
           latest.node_entities_info_seq[0].writer_gid_seq.size() == 1 &&
           latest.node_entities_info_seq[0].reader_gid_seq.size() == 1;
  }));
  const auto& node = latest.node_entities_info_seq[0];
  EXPECT_EQ(node.node_name, "graph_node");
  EXPECT_EQ(node.node_namespace, "/");
  // The participant's id leads every endpoint id it owns (the DDS GUID prefix).
  EXPECT_TRUE(std::equal(latest.gid.data.begin(), latest.gid.data.begin() + 12,
                         node.writer_gid_seq[0].data.begin()));
  EXPECT_NE(node.writer_gid_seq[0].data, node.reader_gid_seq[0].data);
}

}  // namespace
