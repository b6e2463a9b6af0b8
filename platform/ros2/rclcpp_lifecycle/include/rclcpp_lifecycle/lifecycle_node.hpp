// rclcpp_lifecycle::LifecycleNode: a node with managed states.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <lifecycle_msgs/msg/state.hpp>
#include <lifecycle_msgs/msg/transition.hpp>

#include "rclcpp/detail/node_common.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp_lifecycle/lifecycle_publisher.hpp"
#include "rclcpp_lifecycle/managed_entity.hpp"
#include "rclcpp_lifecycle/node_interfaces/lifecycle_node_interface.hpp"
#include "rclcpp_lifecycle/state.hpp"
#include "rclcpp_lifecycle/transition.hpp"

namespace rclcpp_lifecycle {

namespace detail {
class LifecycleServices;
}  // namespace detail

// The node API of rclcpp::Node plus the primary states unconfigured, inactive, active and
// finalized. A transition runs its on_* callback outside the state lock, in the matching
// transition state; a transition requested from a state that does not offer it is refused
// with rclcpp_lifecycle's log line and leaves the state alone. An exception thrown by a
// callback is logged and treated as ERROR: on_error runs, and its success leads back to
// unconfigured (failure to finalized). The default on_activate/on_deactivate switch every
// lifecycle publisher of the node. With `enable_communication_interface` the node offers
// rclcpp_lifecycle's services ("~/change_state", "~/get_state", "~/get_available_states",
// "~/get_available_transitions").
class LifecycleNode : public rclcpp::detail::NodeCommon,
                      public node_interfaces::LifecycleNodeInterface,
                      public std::enable_shared_from_this<LifecycleNode> {
 public:
  using SharedPtr = std::shared_ptr<LifecycleNode>;
  using WeakPtr = std::weak_ptr<LifecycleNode>;
  using CallbackReturn = node_interfaces::LifecycleNodeInterface::CallbackReturn;

  explicit LifecycleNode(const std::string& node_name,
                         const rclcpp::NodeOptions& options = rclcpp::NodeOptions(),
                         bool enable_communication_interface = true);
  LifecycleNode(const std::string& node_name, const std::string& namespace_,
                const rclcpp::NodeOptions& options = rclcpp::NodeOptions(),
                bool enable_communication_interface = true);
  ~LifecycleNode() override;

  template <typename MessageT, typename AllocatorT = std::allocator<void>>
  std::shared_ptr<LifecyclePublisher<MessageT, AllocatorT>> create_publisher(
      const std::string& topic_name, const rclcpp::QoS& qos,
      const rclcpp::PublisherOptionsWithAllocator<AllocatorT>& options =
          rclcpp::PublisherOptionsWithAllocator<AllocatorT>()) {
    (void)options;
    auto publisher = std::make_shared<LifecyclePublisher<MessageT, AllocatorT>>(
        get_node_base_interface()->get_context(), endpoint<MessageT>(topic_name, qos),
        get_logger());
    add_managed_entity(publisher);
    return publisher;
  }

  const State& get_current_state() const;
  std::vector<State> get_available_states() const;
  std::vector<Transition> get_available_transitions() const;

  const State& trigger_transition(uint8_t transition_id);
  const State& trigger_transition(uint8_t transition_id, CallbackReturn& cb_return_code);

  const State& configure();
  const State& configure(CallbackReturn& cb_return_code);
  const State& cleanup();
  const State& cleanup(CallbackReturn& cb_return_code);
  const State& activate();
  const State& activate(CallbackReturn& cb_return_code);
  const State& deactivate();
  const State& deactivate(CallbackReturn& cb_return_code);
  // Picks the shutdown transition of the current primary state.
  const State& shutdown();
  const State& shutdown(CallbackReturn& cb_return_code);

  CallbackReturn on_activate(const State& previous_state) override;
  CallbackReturn on_deactivate(const State& previous_state) override;

  void add_managed_entity(std::weak_ptr<ManagedEntityInterface> managed_entity);
  void add_publisher_handle(std::shared_ptr<LifecyclePublisherInterface> pub) {
    add_managed_entity(pub);
  }

 private:
  CallbackReturn execute_callback(uint8_t transition_state_id, const State& previous_state);
  void change_state(uint8_t transition_id, CallbackReturn& cb_return_code);
  void set_state(uint8_t id);

  std::unique_ptr<detail::LifecycleServices> services_;
  mutable std::recursive_mutex state_mutex_;
  State current_state_;  // guarded by state_mutex_
  std::mutex entities_mutex_;
  std::vector<std::weak_ptr<ManagedEntityInterface>>
      managed_entities_;  // guarded by entities_mutex_
};

}  // namespace rclcpp_lifecycle
