#include "rclcpp_lifecycle/lifecycle_node.hpp"

#include <exception>

#include "lifecycle_services.hpp"

#include "rclcpp/logging.hpp"

namespace rclcpp_lifecycle {
namespace {

using StateMsg = lifecycle_msgs::msg::State;
using TransitionMsg = lifecycle_msgs::msg::Transition;
using CallbackReturn = node_interfaces::LifecycleNodeInterface::CallbackReturn;

const char* state_label(uint8_t id) {
  switch (id) {
    case StateMsg::PRIMARY_STATE_UNCONFIGURED:
      return "unconfigured";
    case StateMsg::PRIMARY_STATE_INACTIVE:
      return "inactive";
    case StateMsg::PRIMARY_STATE_ACTIVE:
      return "active";
    case StateMsg::PRIMARY_STATE_FINALIZED:
      return "finalized";
    case StateMsg::TRANSITION_STATE_CONFIGURING:
      return "configuring";
    case StateMsg::TRANSITION_STATE_CLEANINGUP:
      return "cleaningup";
    case StateMsg::TRANSITION_STATE_SHUTTINGDOWN:
      return "shuttingdown";
    case StateMsg::TRANSITION_STATE_ACTIVATING:
      return "activating";
    case StateMsg::TRANSITION_STATE_DEACTIVATING:
      return "deactivating";
    case StateMsg::TRANSITION_STATE_ERRORPROCESSING:
      return "errorprocessing";
    default:
      return "unknown";
  }
}

// One edge of the default lifecycle state machine.
struct TransitionRule {
  uint8_t id;
  const char* label;
  uint8_t start;
  uint8_t transition_state;
  uint8_t on_success;
  uint8_t on_failure;
};

const TransitionRule kTransitions[] = {
    {TransitionMsg::TRANSITION_CONFIGURE, "configure", StateMsg::PRIMARY_STATE_UNCONFIGURED,
     StateMsg::TRANSITION_STATE_CONFIGURING, StateMsg::PRIMARY_STATE_INACTIVE,
     StateMsg::PRIMARY_STATE_UNCONFIGURED},
    {TransitionMsg::TRANSITION_CLEANUP, "cleanup", StateMsg::PRIMARY_STATE_INACTIVE,
     StateMsg::TRANSITION_STATE_CLEANINGUP, StateMsg::PRIMARY_STATE_UNCONFIGURED,
     StateMsg::PRIMARY_STATE_INACTIVE},
    {TransitionMsg::TRANSITION_ACTIVATE, "activate", StateMsg::PRIMARY_STATE_INACTIVE,
     StateMsg::TRANSITION_STATE_ACTIVATING, StateMsg::PRIMARY_STATE_ACTIVE,
     StateMsg::PRIMARY_STATE_INACTIVE},
    {TransitionMsg::TRANSITION_DEACTIVATE, "deactivate", StateMsg::PRIMARY_STATE_ACTIVE,
     StateMsg::TRANSITION_STATE_DEACTIVATING, StateMsg::PRIMARY_STATE_INACTIVE,
     StateMsg::PRIMARY_STATE_ACTIVE},
    {TransitionMsg::TRANSITION_UNCONFIGURED_SHUTDOWN, "shutdown",
     StateMsg::PRIMARY_STATE_UNCONFIGURED, StateMsg::TRANSITION_STATE_SHUTTINGDOWN,
     StateMsg::PRIMARY_STATE_FINALIZED, StateMsg::PRIMARY_STATE_FINALIZED},
    {TransitionMsg::TRANSITION_INACTIVE_SHUTDOWN, "shutdown", StateMsg::PRIMARY_STATE_INACTIVE,
     StateMsg::TRANSITION_STATE_SHUTTINGDOWN, StateMsg::PRIMARY_STATE_FINALIZED,
     StateMsg::PRIMARY_STATE_FINALIZED},
    {TransitionMsg::TRANSITION_ACTIVE_SHUTDOWN, "shutdown", StateMsg::PRIMARY_STATE_ACTIVE,
     StateMsg::TRANSITION_STATE_SHUTTINGDOWN, StateMsg::PRIMARY_STATE_FINALIZED,
     StateMsg::PRIMARY_STATE_FINALIZED},
};

const TransitionRule* find_transition(uint8_t id, uint8_t from_state) {
  for (const auto& rule : kTransitions) {
    if (rule.id == id && rule.start == from_state) {
      return &rule;
    }
  }
  return nullptr;
}

// rclcpp_lifecycle reports through the unnamed rcutils logger.
rclcpp::Logger lifecycle_logger() {
  return rclcpp::get_logger("");
}

}  // namespace

namespace node_interfaces {

LifecycleNodeInterface::CallbackReturn LifecycleNodeInterface::on_configure(const State&) {
  return CallbackReturn::SUCCESS;
}
LifecycleNodeInterface::CallbackReturn LifecycleNodeInterface::on_cleanup(const State&) {
  return CallbackReturn::SUCCESS;
}
LifecycleNodeInterface::CallbackReturn LifecycleNodeInterface::on_shutdown(const State&) {
  return CallbackReturn::SUCCESS;
}
LifecycleNodeInterface::CallbackReturn LifecycleNodeInterface::on_activate(const State&) {
  return CallbackReturn::SUCCESS;
}
LifecycleNodeInterface::CallbackReturn LifecycleNodeInterface::on_deactivate(const State&) {
  return CallbackReturn::SUCCESS;
}
LifecycleNodeInterface::CallbackReturn LifecycleNodeInterface::on_error(const State&) {
  return CallbackReturn::SUCCESS;
}

}  // namespace node_interfaces

LifecycleNode::LifecycleNode(const std::string& node_name, const rclcpp::NodeOptions& options,
                             bool enable_communication_interface)
    : LifecycleNode(node_name, "", options, enable_communication_interface) {}

LifecycleNode::LifecycleNode(const std::string& node_name, const std::string& namespace_,
                             const rclcpp::NodeOptions& options,
                             bool enable_communication_interface)
    : rclcpp::detail::NodeCommon(node_name, namespace_, options),
      current_state_(StateMsg::PRIMARY_STATE_UNCONFIGURED,
                     state_label(StateMsg::PRIMARY_STATE_UNCONFIGURED)) {
  if (enable_communication_interface) {
    services_ = std::make_unique<detail::LifecycleServices>(*this);
  }
}

LifecycleNode::~LifecycleNode() = default;

const rclcpp_lifecycle::State& LifecycleNode::get_current_state() const {
  std::lock_guard<std::recursive_mutex> lock(state_mutex_);
  return current_state_;
}

std::vector<rclcpp_lifecycle::State> LifecycleNode::get_available_states() const {
  std::vector<rclcpp_lifecycle::State> states;
  for (uint8_t id : {StateMsg::PRIMARY_STATE_UNKNOWN, StateMsg::PRIMARY_STATE_UNCONFIGURED,
                     StateMsg::PRIMARY_STATE_INACTIVE, StateMsg::PRIMARY_STATE_ACTIVE,
                     StateMsg::PRIMARY_STATE_FINALIZED, StateMsg::TRANSITION_STATE_CONFIGURING,
                     StateMsg::TRANSITION_STATE_CLEANINGUP, StateMsg::TRANSITION_STATE_SHUTTINGDOWN,
                     StateMsg::TRANSITION_STATE_ACTIVATING, StateMsg::TRANSITION_STATE_DEACTIVATING,
                     StateMsg::TRANSITION_STATE_ERRORPROCESSING}) {
    states.emplace_back(id, state_label(id));
  }
  return states;
}

std::vector<rclcpp_lifecycle::Transition> LifecycleNode::get_available_transitions() const {
  std::lock_guard<std::recursive_mutex> lock(state_mutex_);
  std::vector<rclcpp_lifecycle::Transition> transitions;
  for (const auto& rule : kTransitions) {
    if (rule.start == current_state_.id()) {
      transitions.emplace_back(rule.id, rule.label, State(rule.start, state_label(rule.start)),
                               State(rule.transition_state, state_label(rule.transition_state)));
    }
  }
  return transitions;
}

void LifecycleNode::set_state(uint8_t id) {
  std::lock_guard<std::recursive_mutex> lock(state_mutex_);
  current_state_ = rclcpp_lifecycle::State(id, state_label(id));
}

CallbackReturn LifecycleNode::execute_callback(uint8_t transition_state_id,
                                               const rclcpp_lifecycle::State& previous_state) {
  try {
    switch (transition_state_id) {
      case StateMsg::TRANSITION_STATE_CONFIGURING:
        return on_configure(previous_state);
      case StateMsg::TRANSITION_STATE_CLEANINGUP:
        return on_cleanup(previous_state);
      case StateMsg::TRANSITION_STATE_SHUTTINGDOWN:
        return on_shutdown(previous_state);
      case StateMsg::TRANSITION_STATE_ACTIVATING:
        return on_activate(previous_state);
      case StateMsg::TRANSITION_STATE_DEACTIVATING:
        return on_deactivate(previous_state);
      case StateMsg::TRANSITION_STATE_ERRORPROCESSING:
        return on_error(previous_state);
      default:
        return CallbackReturn::SUCCESS;
    }
  } catch (const std::exception& e) {
    RCLCPP_ERROR(lifecycle_logger(), "Caught exception in callback for transition %d",
                 transition_state_id);
    RCLCPP_ERROR(lifecycle_logger(), "Original error: %s", e.what());
    return CallbackReturn::ERROR;
  }
}

void LifecycleNode::change_state(uint8_t transition_id, CallbackReturn& cb_return_code) {
  const TransitionRule* rule = nullptr;
  rclcpp_lifecycle::State initial_state;
  {
    std::lock_guard<std::recursive_mutex> lock(state_mutex_);
    initial_state = current_state_;
    rule = find_transition(transition_id, current_state_.id());
    if (rule == nullptr) {
      const std::string label = current_state_.label();
      RCLCPP_ERROR(lifecycle_logger(),
                   "Unable to start transition %u from current state %s: No transition matching "
                   "%u found for current state %s",
                   static_cast<unsigned>(transition_id), label.c_str(),
                   static_cast<unsigned>(transition_id), label.c_str());
      cb_return_code = CallbackReturn::ERROR;
      return;
    }
    // Entering the transition state under the lock refuses concurrent transitions.
    set_state(rule->transition_state);
  }

  cb_return_code = execute_callback(rule->transition_state, initial_state);
  if (cb_return_code == CallbackReturn::SUCCESS) {
    set_state(rule->on_success);
    return;
  }
  if (cb_return_code == CallbackReturn::FAILURE) {
    set_state(rule->on_failure);
    return;
  }
  set_state(StateMsg::TRANSITION_STATE_ERRORPROCESSING);
  RCLCPP_WARN(lifecycle_logger(), "Error occurred while doing error handling.");
  const CallbackReturn error_cb_code =
      execute_callback(StateMsg::TRANSITION_STATE_ERRORPROCESSING, initial_state);
  set_state(error_cb_code == CallbackReturn::SUCCESS ? StateMsg::PRIMARY_STATE_UNCONFIGURED
                                                     : StateMsg::PRIMARY_STATE_FINALIZED);
}

const rclcpp_lifecycle::State& LifecycleNode::trigger_transition(uint8_t transition_id) {
  CallbackReturn cb_return_code = CallbackReturn::SUCCESS;
  return trigger_transition(transition_id, cb_return_code);
}

const rclcpp_lifecycle::State& LifecycleNode::trigger_transition(uint8_t transition_id,
                                                                 CallbackReturn& cb_return_code) {
  change_state(transition_id, cb_return_code);
  return get_current_state();
}

const rclcpp_lifecycle::State& LifecycleNode::configure() {
  return trigger_transition(TransitionMsg::TRANSITION_CONFIGURE);
}
const rclcpp_lifecycle::State& LifecycleNode::configure(CallbackReturn& cb_return_code) {
  return trigger_transition(TransitionMsg::TRANSITION_CONFIGURE, cb_return_code);
}
const rclcpp_lifecycle::State& LifecycleNode::cleanup() {
  return trigger_transition(TransitionMsg::TRANSITION_CLEANUP);
}
const rclcpp_lifecycle::State& LifecycleNode::cleanup(CallbackReturn& cb_return_code) {
  return trigger_transition(TransitionMsg::TRANSITION_CLEANUP, cb_return_code);
}
const rclcpp_lifecycle::State& LifecycleNode::activate() {
  return trigger_transition(TransitionMsg::TRANSITION_ACTIVATE);
}
const rclcpp_lifecycle::State& LifecycleNode::activate(CallbackReturn& cb_return_code) {
  return trigger_transition(TransitionMsg::TRANSITION_ACTIVATE, cb_return_code);
}
const rclcpp_lifecycle::State& LifecycleNode::deactivate() {
  return trigger_transition(TransitionMsg::TRANSITION_DEACTIVATE);
}
const rclcpp_lifecycle::State& LifecycleNode::deactivate(CallbackReturn& cb_return_code) {
  return trigger_transition(TransitionMsg::TRANSITION_DEACTIVATE, cb_return_code);
}
const rclcpp_lifecycle::State& LifecycleNode::shutdown() {
  CallbackReturn cb_return_code = CallbackReturn::SUCCESS;
  return shutdown(cb_return_code);
}
const rclcpp_lifecycle::State& LifecycleNode::shutdown(CallbackReturn& cb_return_code) {
  uint8_t id = TransitionMsg::TRANSITION_UNCONFIGURED_SHUTDOWN;
  {
    std::lock_guard<std::recursive_mutex> lock(state_mutex_);
    if (current_state_.id() == StateMsg::PRIMARY_STATE_INACTIVE) {
      id = TransitionMsg::TRANSITION_INACTIVE_SHUTDOWN;
    } else if (current_state_.id() == StateMsg::PRIMARY_STATE_ACTIVE) {
      id = TransitionMsg::TRANSITION_ACTIVE_SHUTDOWN;
    }
  }
  return trigger_transition(id, cb_return_code);
}

CallbackReturn LifecycleNode::on_activate(const rclcpp_lifecycle::State&) {
  std::lock_guard<std::mutex> lock(entities_mutex_);
  for (const auto& weak : managed_entities_) {
    if (auto entity = weak.lock()) {
      entity->on_activate();
    }
  }
  return CallbackReturn::SUCCESS;
}

CallbackReturn LifecycleNode::on_deactivate(const rclcpp_lifecycle::State&) {
  std::lock_guard<std::mutex> lock(entities_mutex_);
  for (const auto& weak : managed_entities_) {
    if (auto entity = weak.lock()) {
      entity->on_deactivate();
    }
  }
  return CallbackReturn::SUCCESS;
}

void LifecycleNode::add_managed_entity(std::weak_ptr<ManagedEntityInterface> managed_entity) {
  std::lock_guard<std::mutex> lock(entities_mutex_);
  managed_entities_.push_back(std::move(managed_entity));
}

}  // namespace rclcpp_lifecycle
