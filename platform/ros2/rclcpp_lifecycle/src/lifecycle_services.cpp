#include "lifecycle_services.hpp"

#include <memory>

#include "rclcpp_lifecycle/lifecycle_node.hpp"

namespace rclcpp_lifecycle {
namespace detail {
namespace {

namespace srv = lifecycle_msgs::srv;
using Header = std::shared_ptr<rmw_request_id_t>;

lifecycle_msgs::msg::State state_message(const State& state) {
  lifecycle_msgs::msg::State message;
  message.id = state.id();
  message.label = state.label();
  return message;
}

}  // namespace

LifecycleServices::LifecycleServices(LifecycleNode& node) {
  LifecycleNode* const target = &node;

  change_state_ = node.create_service<srv::ChangeState>(
      "~/change_state", [target](Header, std::shared_ptr<srv::ChangeState::Request> request,
                                 std::shared_ptr<srv::ChangeState::Response> response) {
        uint8_t transition_id = request->transition.id;
        if (!request->transition.label.empty()) {
          bool found = false;
          for (const Transition& transition : target->get_available_transitions()) {
            if (transition.label() == request->transition.label) {
              transition_id = transition.id();
              found = true;
              break;
            }
          }
          if (!found) {
            response->success = false;
            return;
          }
        }
        LifecycleNode::CallbackReturn cb_return_code = LifecycleNode::CallbackReturn::ERROR;
        target->trigger_transition(transition_id, cb_return_code);
        response->success = cb_return_code == LifecycleNode::CallbackReturn::SUCCESS;
      });

  get_state_ = node.create_service<srv::GetState>(
      "~/get_state", [target](Header, std::shared_ptr<srv::GetState::Request>,
                              std::shared_ptr<srv::GetState::Response> response) {
        response->current_state = state_message(target->get_current_state());
      });

  get_available_states_ = node.create_service<srv::GetAvailableStates>(
      "~/get_available_states",
      [target](Header, std::shared_ptr<srv::GetAvailableStates::Request>,
               std::shared_ptr<srv::GetAvailableStates::Response> response) {
        for (const State& state : target->get_available_states()) {
          response->available_states.push_back(state_message(state));
        }
      });

  get_available_transitions_ = node.create_service<srv::GetAvailableTransitions>(
      "~/get_available_transitions",
      [target](Header, std::shared_ptr<srv::GetAvailableTransitions::Request>,
               std::shared_ptr<srv::GetAvailableTransitions::Response> response) {
        for (const Transition& transition : target->get_available_transitions()) {
          lifecycle_msgs::msg::TransitionDescription description;
          description.transition.id = transition.id();
          description.transition.label = transition.label();
          description.start_state = state_message(transition.start_state());
          description.goal_state = state_message(transition.goal_state());
          response->available_transitions.push_back(description);
        }
      });
}

}  // namespace detail
}  // namespace rclcpp_lifecycle
