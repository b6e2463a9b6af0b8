// Service calls between two contexts over DDS: the server's node in one participant, the client
// in another, so that requests and replies cross the wire as between two processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <lifecycle_msgs/msg/state.hpp>
#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>

#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>

#include "raw_participant.hpp"
#include "rclcpp/executors.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp_lifecycle/lifecycle_node.hpp"
#include "ros2_core/cdr_serialization.hpp"
#include "ros2_dds/cdr_sertype.hpp"
#include "ros2_dds/dds_domain.hpp"
#include "ros2_dds/dds_names.hpp"

namespace {

using namespace std::chrono_literals;

// A context of its own with its executor; spin() runs it on a thread of its own, else the test
// thread spins it while it waits for a reply.
class Side {
 public:
  Side() : context_(std::make_shared<rclcpp::Context>()) {
    context_->init(0, nullptr);
    rclcpp::ExecutorOptions options;
    options.context = context_;
    executor_ = std::make_shared<rclcpp::executors::SingleThreadedExecutor>(options);
  }
  ~Side() {
    executor_->cancel();
    if (thread_.joinable()) {
      thread_.join();
    }
    context_->shutdown("test over");
  }
  rclcpp::NodeOptions options() const { return rclcpp::NodeOptions().context(context_); }
  template <typename NodeT>
  void spin(const std::shared_ptr<NodeT>& node) {
    executor_->add_node(node->get_node_base_interface());
    thread_ = std::thread([this] { executor_->spin(); });
  }
  rclcpp::executors::SingleThreadedExecutor& executor() { return *executor_; }

 private:
  rclcpp::Context::SharedPtr context_;
  std::shared_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread thread_;
};

template <typename ServiceT>
typename ServiceT::Response::SharedPtr call(Side& side, const rclcpp::Node::SharedPtr& caller,
                                            const std::string& service,
                                            typename ServiceT::Request::SharedPtr request) {
  auto client = caller->create_client<ServiceT>(service);
  if (!client->wait_for_service(10s)) {
    ADD_FAILURE() << "no server of " << service << " was found";
    return nullptr;
  }
  auto future = client->async_send_request(request);
  if (side.executor().spin_until_future_complete(future, 10s) !=
      rclcpp::FutureReturnCode::SUCCESS) {
    ADD_FAILURE() << "no reply from " << service;
    return nullptr;
  }
  return future.get();
}

TEST(DdsServices, ParametersOfANodeInAnotherParticipantAreSetThroughItsServices) {
  Side server_side;
  auto node = std::make_shared<rclcpp::Node>("detector", server_side.options());
  node->declare_parameter("ground.max_slope", 0.2);
  auto handle = node->add_on_set_parameters_callback([](const std::vector<rclcpp::Parameter>& ps) {
    rcl_interfaces::msg::SetParametersResult result;
    result.successful = true;
    for (const auto& p : ps) {
      if (p.get_name() == "ground.max_slope" && p.as_double() < 0.0) {
        result.successful = false;
        result.reason = "ground.max_slope must not be negative";
      }
    }
    return result;
  });
  server_side.spin(node);

  Side client_side;
  auto caller = std::make_shared<rclcpp::Node>("caller", client_side.options());
  client_side.executor().add_node(caller);
  auto set = std::make_shared<rcl_interfaces::srv::SetParameters::Request>();
  set->parameters.push_back(rclcpp::Parameter("ground.max_slope", 0.35).to_parameter_msg());
  set->parameters.push_back(rclcpp::Parameter("ground.max_slope", -1.0).to_parameter_msg());
  auto set_reply = call<rcl_interfaces::srv::SetParameters>(client_side, caller,
                                                            "/detector/set_parameters", set);
  ASSERT_NE(set_reply, nullptr);
  ASSERT_EQ(set_reply->results.size(), 2u);
  EXPECT_TRUE(set_reply->results[0].successful);
  EXPECT_FALSE(set_reply->results[1].successful);
  EXPECT_EQ(set_reply->results[1].reason, "ground.max_slope must not be negative");
  EXPECT_DOUBLE_EQ(node->get_parameter("ground.max_slope").as_double(), 0.35);

  auto get = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
  get->names = {"ground.max_slope"};
  auto get_reply = call<rcl_interfaces::srv::GetParameters>(client_side, caller,
                                                            "/detector/get_parameters", get);
  ASSERT_NE(get_reply, nullptr);
  ASSERT_EQ(get_reply->values.size(), 1u);
  EXPECT_DOUBLE_EQ(get_reply->values[0].double_value, 0.35);
}

TEST(DdsServices, LifecycleTransitionsComeFromAnotherParticipant) {
  Side server_side;
  auto node = std::make_shared<rclcpp_lifecycle::LifecycleNode>("managed", server_side.options());
  server_side.spin(node);

  Side client_side;
  auto caller = std::make_shared<rclcpp::Node>("manager", client_side.options());
  client_side.executor().add_node(caller);
  for (const char* label : {"configure", "activate"}) {
    auto change = std::make_shared<lifecycle_msgs::srv::ChangeState::Request>();
    change->transition.label = label;
    auto reply = call<lifecycle_msgs::srv::ChangeState>(client_side, caller,
                                                        "/managed/change_state", change);
    ASSERT_NE(reply, nullptr);
    EXPECT_TRUE(reply->success) << label;
  }
  auto state = call<lifecycle_msgs::srv::GetState>(
      client_side, caller, "/managed/get_state",
      std::make_shared<lifecycle_msgs::srv::GetState::Request>());
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->current_state.id, lifecycle_msgs::msg::State::PRIMARY_STATE_ACTIVE);
  EXPECT_EQ(state->current_state.label, "active");
}

TEST(DdsServices, TwoClientsOfOneServerEachGetTheirOwnReplies) {
  Side server_side;
  auto node = std::make_shared<rclcpp::Node>("detector", server_side.options());
  node->declare_parameter("a", 1);
  node->declare_parameter("b", 2);
  server_side.spin(node);

  Side first_side;
  Side second_side;
  auto first = std::make_shared<rclcpp::Node>("first", first_side.options());
  auto second = std::make_shared<rclcpp::Node>("second", second_side.options());
  first_side.executor().add_node(first);
  second_side.executor().add_node(second);
  auto ask = [](const std::string& name) {
    auto request = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
    request->names = {name};
    return request;
  };
  for (int round = 0; round < 3; ++round) {
    auto a = call<rcl_interfaces::srv::GetParameters>(first_side, first, "/detector/get_parameters",
                                                      ask("a"));
    auto b = call<rcl_interfaces::srv::GetParameters>(second_side, second,
                                                      "/detector/get_parameters", ask("b"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(a->values.size(), 1u);
    ASSERT_EQ(b->values.size(), 1u);
    EXPECT_EQ(a->values[0].integer_value, 1);
    EXPECT_EQ(b->values[0].integer_value, 2);
  }
}

// A client of "/detector/get_parameters" made of bare DDS endpoints, as another process's
// middleware makes one: its request writer and reply reader carry `user_data` when given, and the
// reply reader is opened only when the test says so.
class RawParameterClient {
 public:
  using GetParameters = rcl_interfaces::srv::GetParameters;

  RawParameterClient(dds_entity_t participant, const std::string& user_data)
      : qos_(dds_create_qos(), &dds_delete_qos) {
    using ros2_dds::create_cdr_sertype;
    using ros2_dds::dds_type_name;
    request_type_ = create_cdr_sertype(dds_type_name("rcl_interfaces/srv/GetParameters_Request"));
    ddsi_sertype* reply_type =
        create_cdr_sertype(dds_type_name("rcl_interfaces/srv/GetParameters_Response"));
    const std::string service = "/detector/get_parameters";
    request_topic_ =
        dds_create_topic_sertype(participant, ros2_dds::dds_request_topic_name(service).c_str(),
                                 &request_type_, nullptr, nullptr, nullptr);
    reply_topic_ =
        dds_create_topic_sertype(participant, ros2_dds::dds_reply_topic_name(service).c_str(),
                                 &reply_type, nullptr, nullptr, nullptr);
    dds_qset_reliability(qos_.get(), DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
    dds_qset_history(qos_.get(), DDS_HISTORY_KEEP_LAST, 10);
    if (!user_data.empty()) {
      dds_qset_userdata(qos_.get(), user_data.data(), user_data.size());
    }
    participant_ = participant;
    requests_ = dds_create_writer(participant, request_topic_, qos_.get(), nullptr);
  }

  bool ready() const { return request_topic_ > 0 && reply_topic_ > 0 && requests_ > 0; }

  // Waits until the request writer has found the server, then asks for `name`.
  bool ask(std::uint64_t client_id, std::int64_t sequence, const std::string& name) {
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    dds_publication_matched_status_t matched{};
    while (dds_get_publication_matched_status(requests_, &matched) == DDS_RETCODE_OK &&
           matched.current_count == 0 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(5ms);
    }
    if (matched.current_count == 0) {
      return false;
    }
    GetParameters::Request request;
    request.names = {name};
    const std::vector<std::uint8_t> body = ros2_core::serialize(
        &request, ros2_core::introspection_members(
                      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
                          GetParameters::Request>()));
    // Encapsulation, the header (client id, sequence number), then the request itself.
    const auto* id_bytes = reinterpret_cast<const std::uint8_t*>(&client_id);
    const auto* sequence_bytes = reinterpret_cast<const std::uint8_t*>(&sequence);
    std::vector<std::uint8_t> sample(body.begin(), body.begin() + 4);
    sample.insert(sample.end(), id_bytes, id_bytes + sizeof(client_id));
    sample.insert(sample.end(), sequence_bytes, sequence_bytes + sizeof(sequence));
    sample.insert(sample.end(), body.begin() + 4, body.end());
    return dds_writecdr(requests_, ros2_dds::make_cdr_serdata(request_type_, std::move(sample))) ==
           DDS_RETCODE_OK;
  }

  void open_reply_reader() {
    replies_ = dds_create_reader(participant_, reply_topic_, qos_.get(), nullptr);
  }

  // The first reply within `limit`, with the client id and sequence number of its header.
  struct Reply {
    std::uint64_t client_id{0};
    std::int64_t sequence{0};
    GetParameters::Response response;
  };
  std::optional<Reply> reply(std::chrono::milliseconds limit) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (replies_ > 0 && std::chrono::steady_clock::now() < give_up) {
      ddsi_serdata* taken = nullptr;
      dds_sample_info_t info;
      if (dds_takecdr(replies_, &taken, 1, &info, DDS_ANY_STATE) != 1) {
        std::this_thread::sleep_for(5ms);
        continue;
      }
      std::vector<std::uint8_t> bytes;
      if (info.valid_data && ros2_dds::cdr_bytes(taken) != nullptr) {
        bytes = *ros2_dds::cdr_bytes(taken);
      }
      ddsi_serdata_unref(taken);
      if (bytes.size() < 20) {
        continue;
      }
      Reply reply;
      std::memcpy(&reply.client_id, bytes.data() + 4, 8);
      std::memcpy(&reply.sequence, bytes.data() + 12, 8);
      std::vector<std::uint8_t> body(bytes.size() - 16);
      std::copy_n(bytes.begin(), 4, body.begin());
      std::copy(bytes.begin() + 20, bytes.end(), body.begin() + 4);
      ros2_core::deserialize(
          body, &reply.response,
          ros2_core::introspection_members(
              rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
                  GetParameters::Response>()));
      return reply;
    }
    return std::nullopt;
  }

 private:
  std::unique_ptr<dds_qos_t, decltype(&dds_delete_qos)> qos_;
  ddsi_sertype* request_type_{nullptr};
  dds_entity_t participant_{0};
  dds_entity_t request_topic_{0};
  dds_entity_t reply_topic_{0};
  dds_entity_t requests_{0};
  dds_entity_t replies_{0};
};

// A client in another process sends as soon as it sees the server's request reader; the server
// may not have found the client's reply reader by then, and a reply written then reaches no one.
// The request header carries the client's own id for its writer, which means nothing to the
// server: it must find the writer, and the reply reader beside it, by its own handle of the
// writer and the pair's user data.
TEST(DdsServices, AReplyWaitsForTheReaderOfAClientThatSentBeforeItWasFound) {
  Side server_side;
  auto node = std::make_shared<rclcpp::Node>("detector", server_side.options());
  node->declare_parameter("ground.max_slope", 0.25);
  server_side.spin(node);
  const RawParticipant participant(ros2_dds::domain_settings_from_environment().domain_id);
  ASSERT_GT(participant.handle, 0);

  // Ids as another process would number its writers; no handles of the server's process.
  const std::uint64_t unmarked_id = 0x5eed0f0123456789;
  const std::uint64_t marked_id = 0x5eed0f0123456790;
  {
    SCOPED_TRACE("a client that does not mark its endpoints: any reader of its participant");
    RawParameterClient client(participant.handle, "");
    ASSERT_TRUE(client.ready());
    ASSERT_TRUE(client.ask(unmarked_id, 42, "ground.max_slope"));
    std::this_thread::sleep_for(300ms);  // well within the server's patience
    client.open_reply_reader();
    const auto reply = client.reply(10s);
    ASSERT_TRUE(reply.has_value()) << "no reply reached the late reader";
    EXPECT_EQ(reply->client_id, unmarked_id);
    EXPECT_EQ(reply->sequence, 42);
    ASSERT_EQ(reply->response.values.size(), 1u);
    EXPECT_DOUBLE_EQ(reply->response.values[0].double_value, 0.25);
  }
  {
    SCOPED_TRACE("a marked client: its own reader, not a neighbour's in the same participant");
    RawParameterClient neighbour(participant.handle, "clientid=01.02;");
    neighbour.open_reply_reader();
    RawParameterClient client(participant.handle, "clientid=01.03;");
    ASSERT_TRUE(neighbour.ready());
    ASSERT_TRUE(client.ready());
    std::this_thread::sleep_for(100ms);  // the server finds the neighbour's reader
    ASSERT_TRUE(client.ask(marked_id, 7, "ground.max_slope"));
    std::this_thread::sleep_for(300ms);
    client.open_reply_reader();
    const auto reply = client.reply(10s);
    ASSERT_TRUE(reply.has_value()) << "the reply went out before the client's own reader was found";
    EXPECT_EQ(reply->client_id, marked_id);
    EXPECT_EQ(reply->sequence, 7);
  }
}

TEST(DdsServices, WaitingForAServiceNobodyOffersTimesOut) {
  Side side;
  auto caller = std::make_shared<rclcpp::Node>("caller", side.options());
  auto client = caller->create_client<rcl_interfaces::srv::GetParameters>("/nobody/get_parameters");
  EXPECT_FALSE(client->wait_for_service(300ms));
  EXPECT_FALSE(client->service_is_ready());
}

}  // namespace
