// Sets one double parameter of a node and reads its lifecycle state through the node's services,
// as a tool in another process does. Exits 0 when the value was accepted and the node is active.
//
//   service_probe NODE PARAMETER VALUE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <lifecycle_msgs/msg/state.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rclcpp/rclcpp.hpp>

namespace {

using namespace std::chrono_literals;

template <typename ServiceT>
typename ServiceT::Response::SharedPtr call(const rclcpp::Node::SharedPtr& node,
                                            const std::string& service,
                                            typename ServiceT::Request::SharedPtr request) {
  auto client = node->create_client<ServiceT>(service);
  if (!client->wait_for_service(30s)) {
    std::printf("service_probe: no server of %s\n", service.c_str());
    return nullptr;
  }
  auto future = client->async_send_request(request);
  if (rclcpp::spin_until_future_complete(node, future, 10s) !=
      rclcpp::FutureReturnCode::SUCCESS) {
    std::printf("service_probe: no reply from %s\n", service.c_str());
    return nullptr;
  }
  return future.get();
}

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  const auto args = rclcpp::remove_ros_arguments(argc, argv);
  if (args.size() != 4) {
    std::fprintf(stderr, "usage: service_probe NODE PARAMETER VALUE\n");
    rclcpp::shutdown();
    return 2;
  }
  const std::string target = args[1][0] == '/' ? args[1] : "/" + args[1];
  auto node = std::make_shared<rclcpp::Node>("service_probe");

  auto set = std::make_shared<rcl_interfaces::srv::SetParameters::Request>();
  set->parameters.push_back(
      rclcpp::Parameter(args[2], std::strtod(args[3].c_str(), nullptr)).to_parameter_msg());
  auto set_reply = call<rcl_interfaces::srv::SetParameters>(node, target + "/set_parameters", set);
  bool ok = set_reply != nullptr && set_reply->results.size() == 1 &&
            set_reply->results[0].successful;
  if (set_reply != nullptr && !set_reply->results.empty()) {
    std::printf("service_probe: set %s = %s: %s%s\n", args[2].c_str(), args[3].c_str(),
                set_reply->results[0].successful ? "successful" : "refused: ",
                set_reply->results[0].reason.c_str());
  }

  auto state = call<lifecycle_msgs::srv::GetState>(
      node, target + "/get_state", std::make_shared<lifecycle_msgs::srv::GetState::Request>());
  if (state != nullptr) {
    std::printf("service_probe: state %s [%u]\n", state->current_state.label.c_str(),
                static_cast<unsigned>(state->current_state.id));
  }
  ok = ok && state != nullptr &&
       state->current_state.id == lifecycle_msgs::msg::State::PRIMARY_STATE_ACTIVE;
  rclcpp::shutdown();
  return ok ? 0 : 1;
}
