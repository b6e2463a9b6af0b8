// Executors: run the callbacks of nodes and callback groups.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/executable.hpp"
#include "rclcpp/executor_options.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "ros2_core/guard_condition.hpp"

namespace rclcpp {

// One claimed unit of work and the group it was claimed from.
struct AnyExecutable {
  std::shared_ptr<Executable> executable;
  CallbackGroup::SharedPtr callback_group;
  std::shared_ptr<const void> work;
};

// Serves the automatically added callback groups of its nodes plus explicitly added groups.
// Threads wait on one wake-up signal, triggered by message arrival, new timers, finished
// callbacks, cancel() and context shutdown; nothing polls. A mutually exclusive group hands
// out one unit at a time; a reentrant one as many as there are threads. Nodes and groups are
// held weakly; the executor must be destroyed or the nodes removed before they are reused
// with another executor. An exception thrown by a callback ends spin and is rethrown by it.
class Executor {
 public:
  using SharedPtr = std::shared_ptr<Executor>;

  explicit Executor(const rclcpp::ExecutorOptions& options = rclcpp::ExecutorOptions());
  virtual ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  virtual void spin() = 0;

  // Throws std::runtime_error when the node is already in an executor.
  void add_node(node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify = true);
  template <typename NodeT>
  void add_node(std::shared_ptr<NodeT> node_ptr, bool notify = true) {
    add_node(node_ptr->get_node_base_interface(), notify);
  }
  void remove_node(node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify = true);
  template <typename NodeT>
  void remove_node(std::shared_ptr<NodeT> node_ptr, bool notify = true) {
    remove_node(node_ptr->get_node_base_interface(), notify);
  }
  // Throws std::runtime_error when the group is already in an executor.
  void add_callback_group(CallbackGroup::SharedPtr group_ptr,
                          node_interfaces::NodeBaseInterface::SharedPtr node_ptr,
                          bool notify = true);
  void remove_callback_group(CallbackGroup::SharedPtr group_ptr, bool notify = true);

  // Runs what is ready now, without waiting (max_duration 0: no limit).
  void spin_some(std::chrono::nanoseconds max_duration = std::chrono::nanoseconds(0));
  // Runs until nothing is ready or max_duration passed.
  void spin_all(std::chrono::nanoseconds max_duration);
  // Waits up to `timeout` (negative: forever) for one unit of work and runs it.
  void spin_once(std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));
  // Makes spin return soon; callbacks already running finish.
  void cancel();
  bool is_spinning() const { return spinning.load(); }

 protected:
  // Claims the next ready unit, waiting up to `timeout` (negative: forever, zero: no wait).
  // Returns false on timeout, cancel or shutdown.
  bool get_next_executable(AnyExecutable& any_executable,
                           std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));
  // Runs the unit and releases its group; rethrows what the callback threw.
  void execute_any_executable(AnyExecutable& any_executable);
  bool context_ok() const { return context_->is_valid(); }

  std::atomic_bool spinning{false};

 private:
  bool claim_ready(AnyExecutable& any_executable,
                   std::optional<Executable::SteadyTime>& next_deadline);
  std::vector<CallbackGroup::SharedPtr> serving_groups();
  void release(AnyExecutable& any_executable);

  const Context::SharedPtr context_;
  const std::shared_ptr<ros2_core::GuardCondition> wake_;
  OnShutdownCallbackHandle shutdown_handle_;
  std::mutex wait_mutex_;    // one thread at a time looks for work
  std::size_t rotation_{0};  // guarded by wait_mutex_; spreads work over entities
  std::mutex membership_mutex_;
  std::vector<node_interfaces::NodeBaseInterface::WeakPtr> nodes_;  // guarded by membership_mutex_
  std::vector<CallbackGroup::WeakPtr> groups_;                      // guarded by membership_mutex_
};

}  // namespace rclcpp
