// Executors: run the callbacks of nodes and callback groups.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/executable.hpp"
#include "rclcpp/executor_options.hpp"
#include "rclcpp/future_return_code.hpp"
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
  // Runs ready work until `future` completes (SUCCESS), `timeout` passes (TIMEOUT; negative:
  // no limit) or the executor is cancelled or its context shut down (INTERRUPTED). Throws
  // std::runtime_error when already spinning.
  template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
  FutureReturnCode spin_until_future_complete(
      const FutureT& future,
      std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
    if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      return FutureReturnCode::SUCCESS;
    }
    const auto timeout_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
    const auto end_time = std::chrono::steady_clock::now() + timeout_ns;
    if (spinning.exchange(true)) {
      throw std::runtime_error("spin_until_future_complete() called while already spinning");
    }
    SpinningReset reset(spinning);
    while (spinning.load() && context_ok()) {
      std::chrono::nanoseconds wait = std::chrono::nanoseconds(-1);
      if (timeout_ns >= std::chrono::nanoseconds(0)) {
        wait = std::max(std::chrono::nanoseconds(0),
                        std::chrono::duration_cast<std::chrono::nanoseconds>(
                            end_time - std::chrono::steady_clock::now()));
      }
      AnyExecutable any;
      if (get_next_executable(any, wait)) {
        execute_any_executable(any);
      }
      if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        return FutureReturnCode::SUCCESS;
      }
      if (timeout_ns >= std::chrono::nanoseconds(0) &&
          std::chrono::steady_clock::now() >= end_time) {
        return FutureReturnCode::TIMEOUT;
      }
    }
    return FutureReturnCode::INTERRUPTED;
  }

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

  // Clears `spinning` however a spin call ends.
  class SpinningReset {
   public:
    explicit SpinningReset(std::atomic_bool& flag) : flag_(flag) {}
    ~SpinningReset() { flag_.store(false); }
    SpinningReset(const SpinningReset&) = delete;
    SpinningReset& operator=(const SpinningReset&) = delete;

   private:
    std::atomic_bool& flag_;
  };

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
