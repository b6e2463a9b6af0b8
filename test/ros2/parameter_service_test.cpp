// A node's parameters read and set through its parameter services: the same on-set callbacks,
// validation and refusals as local calls.
#include <gtest/gtest.h>

#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "rclcpp/rclcpp.hpp"

namespace {

using namespace std::chrono_literals;
namespace srv = rcl_interfaces::srv;

rcl_interfaces::msg::Parameter parameter_message(const std::string& name,
                                                 const rclcpp::ParameterValue& value) {
  return rclcpp::Parameter(name, value).to_parameter_msg();
}

class ParameterServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = std::make_shared<rclcpp::Context>();
    context_->init(0, nullptr);
    rclcpp::NodeOptions options;
    options.context(context_);
    node_ = std::make_shared<rclcpp::Node>("detector", "/robot", options);
    node_->declare_parameter("voxel_size", 0.1);
    node_->declare_parameter("frame_id", std::string("base_link"));
    node_->declare_parameter("roi.min_z", -1.0);
    node_->declare_parameter("roi.max_z", 2.0);
    // The node's own validation, as a detector would register it.
    handle_ = node_->add_on_set_parameters_callback(
        [this](const std::vector<rclcpp::Parameter>& parameters) {
          rcl_interfaces::msg::SetParametersResult result;
          result.successful = true;
          for (const auto& p : parameters) {
            seen_.push_back(p.get_name());
            if (p.get_name() == "voxel_size" && p.as_double() <= 0.0) {
              result.successful = false;
              result.reason = "voxel_size must be > 0, got " + p.value_to_string();
            }
          }
          return result;
        });
    options.start_parameter_services(false);
    caller_ = std::make_shared<rclcpp::Node>("caller", options);
    rclcpp::ExecutorOptions executor_options;
    executor_options.context = context_;
    executor_ = std::make_unique<rclcpp::executors::SingleThreadedExecutor>(executor_options);
    executor_->add_node(node_);
    executor_->add_node(caller_);
  }
  void TearDown() override { context_->shutdown("test end"); }

  template <typename ServiceT>
  typename ServiceT::Response::SharedPtr call(const std::string& name,
                                              typename ServiceT::Request::SharedPtr request) {
    auto client = caller_->create_client<ServiceT>(name);
    EXPECT_TRUE(client->wait_for_service(10s)) << name;
    auto future = client->async_send_request(request);
    EXPECT_EQ(executor_->spin_until_future_complete(future, 10s),
              rclcpp::FutureReturnCode::SUCCESS);
    return future.get();
  }

  rclcpp::Context::SharedPtr context_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Node::SharedPtr caller_;
  rclcpp::node_interfaces::OnSetParametersCallbackHandle::SharedPtr handle_;
  std::vector<std::string> seen_;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
};

TEST_F(ParameterServiceTest, SetParametersRunsTheNodesValidationPerParameter) {
  auto request = std::make_shared<srv::SetParameters::Request>();
  request->parameters = {parameter_message("voxel_size", rclcpp::ParameterValue(0.25)),
                         parameter_message("voxel_size", rclcpp::ParameterValue(-1.0)),
                         parameter_message("frame_id", rclcpp::ParameterValue(5)),
                         parameter_message("undeclared", rclcpp::ParameterValue(true))};
  auto response = call<srv::SetParameters>("/robot/detector/set_parameters", request);
  ASSERT_EQ(response->results.size(), 4u);
  EXPECT_TRUE(response->results[0].successful);
  EXPECT_FALSE(response->results[1].successful);
  EXPECT_EQ(response->results[1].reason, "voxel_size must be > 0, got -1.000000");
  // A statically typed string refuses an integer before any callback sees it.
  EXPECT_FALSE(response->results[2].successful);
  EXPECT_NE(response->results[2].reason.find("frame_id"), std::string::npos);
  EXPECT_FALSE(response->results[3].successful);
  EXPECT_NE(response->results[3].reason.find("undeclared"), std::string::npos);
  EXPECT_EQ(seen_, (std::vector<std::string>{"voxel_size", "voxel_size"}));
  // The accepted value stays, the refused one left no trace.
  EXPECT_DOUBLE_EQ(node_->get_parameter("voxel_size").as_double(), 0.25);
  EXPECT_EQ(node_->get_parameter("frame_id").as_string(), "base_link");
}

TEST_F(ParameterServiceTest, SetParametersAtomicallyStoresAllOrNothing) {
  auto request = std::make_shared<srv::SetParametersAtomically::Request>();
  request->parameters = {parameter_message("roi.min_z", rclcpp::ParameterValue(-0.5)),
                         parameter_message("voxel_size", rclcpp::ParameterValue(0.0))};
  auto refused =
      call<srv::SetParametersAtomically>("/robot/detector/set_parameters_atomically", request);
  EXPECT_FALSE(refused->result.successful);
  EXPECT_EQ(refused->result.reason, "voxel_size must be > 0, got 0.000000");
  EXPECT_DOUBLE_EQ(node_->get_parameter("roi.min_z").as_double(), -1.0);

  request->parameters[1] = parameter_message("voxel_size", rclcpp::ParameterValue(0.2));
  auto accepted =
      call<srv::SetParametersAtomically>("/robot/detector/set_parameters_atomically", request);
  EXPECT_TRUE(accepted->result.successful);
  EXPECT_DOUBLE_EQ(node_->get_parameter("roi.min_z").as_double(), -0.5);
  EXPECT_DOUBLE_EQ(node_->get_parameter("voxel_size").as_double(), 0.2);

  request->parameters = {parameter_message("nope", rclcpp::ParameterValue(1))};
  auto undeclared =
      call<srv::SetParametersAtomically>("/robot/detector/set_parameters_atomically", request);
  EXPECT_FALSE(undeclared->result.successful);
  EXPECT_EQ(undeclared->result.reason, "One or more parameters were not declared before setting");
}

TEST_F(ParameterServiceTest, GetDescribeAndTypesAnswerFromTheStore) {
  auto get = std::make_shared<srv::GetParameters::Request>();
  get->names = {"frame_id", "voxel_size"};
  auto values = call<srv::GetParameters>("/robot/detector/get_parameters", get);
  ASSERT_EQ(values->values.size(), 2u);
  EXPECT_EQ(values->values[0].string_value, "base_link");
  EXPECT_DOUBLE_EQ(values->values[1].double_value, 0.1);
  get->names = {"frame_id", "missing"};
  EXPECT_TRUE(call<srv::GetParameters>("/robot/detector/get_parameters", get)->values.empty());

  auto types = std::make_shared<srv::GetParameterTypes::Request>();
  types->names = {"voxel_size", "frame_id"};
  EXPECT_EQ(call<srv::GetParameterTypes>("/robot/detector/get_parameter_types", types)->types,
            (std::vector<uint8_t>{rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE,
                                  rcl_interfaces::msg::ParameterType::PARAMETER_STRING}));

  auto describe = std::make_shared<srv::DescribeParameters::Request>();
  describe->names = {"roi.max_z"};
  auto descriptors = call<srv::DescribeParameters>("/robot/detector/describe_parameters", describe);
  ASSERT_EQ(descriptors->descriptors.size(), 1u);
  EXPECT_EQ(descriptors->descriptors[0].name, "roi.max_z");
  EXPECT_EQ(descriptors->descriptors[0].type, rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE);
}

TEST_F(ParameterServiceTest, ListParametersByPrefixAndDepth) {
  node_->declare_parameter("roi.box.size", 1.0);
  auto list = std::make_shared<srv::ListParameters::Request>();
  auto all = call<srv::ListParameters>("/robot/detector/list_parameters", list)->result;
  EXPECT_EQ(all.names, (std::vector<std::string>{"frame_id", "roi.box.size", "roi.max_z",
                                                 "roi.min_z", "voxel_size"}));
  EXPECT_EQ(all.prefixes, (std::vector<std::string>{"roi.box", "roi"}));

  list->prefixes = {"roi"};
  auto under_roi = call<srv::ListParameters>("/robot/detector/list_parameters", list)->result;
  EXPECT_EQ(under_roi.names, (std::vector<std::string>{"roi.box.size", "roi.max_z", "roi.min_z"}));

  // Depth 2 counts ".box.size" as two separators: only the direct children remain.
  list->depth = 2;
  auto shallow = call<srv::ListParameters>("/robot/detector/list_parameters", list)->result;
  EXPECT_EQ(shallow.names, (std::vector<std::string>{"roi.max_z", "roi.min_z"}));
  EXPECT_EQ(shallow.prefixes, std::vector<std::string>{"roi"});

  // Without prefixes, depth 1 keeps the names without any separator.
  list->prefixes.clear();
  list->depth = 1;
  auto top = call<srv::ListParameters>("/robot/detector/list_parameters", list)->result;
  EXPECT_EQ(top.names, (std::vector<std::string>{"frame_id", "voxel_size"}));
}

TEST_F(ParameterServiceTest, ServicesFollowTheNodeOption) {
  auto probe = caller_->create_client<srv::GetParameters>("/caller/get_parameters");
  EXPECT_FALSE(probe->wait_for_service(20ms));
  auto node_probe = caller_->create_client<srv::GetParameters>("/robot/detector/get_parameters");
  EXPECT_TRUE(node_probe->service_is_ready());
}

}  // namespace
