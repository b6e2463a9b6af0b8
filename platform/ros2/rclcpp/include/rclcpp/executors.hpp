// Executors and the spin helpers.
#pragma once

#include <chrono>
#include <memory>

#include "rclcpp/executor.hpp"
#include "rclcpp/executors/multi_threaded_executor.hpp"
#include "rclcpp/executors/single_threaded_executor.hpp"
#include "rclcpp/future_return_code.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"

namespace rclcpp {

// Runs what is ready for `node_ptr` now on a temporary single-threaded executor.
void spin_some(node_interfaces::NodeBaseInterface::SharedPtr node_ptr);
// Spins `node_ptr` on a temporary single-threaded executor until shutdown.
void spin(node_interfaces::NodeBaseInterface::SharedPtr node_ptr);

namespace executors {

// Spins `executor` with `node_ptr` added until `future` completes, then removes the node.
template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
rclcpp::FutureReturnCode spin_node_until_future_complete(
    rclcpp::Executor& executor, rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_ptr,
    const FutureT& future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  executor.add_node(node_ptr);
  rclcpp::FutureReturnCode retcode;
  try {
    retcode = executor.spin_until_future_complete(future, timeout);
  } catch (...) {
    executor.remove_node(node_ptr);
    throw;
  }
  executor.remove_node(node_ptr);
  return retcode;
}

template <typename NodeT, typename FutureT, typename TimeRepT = int64_t,
          typename TimeT = std::milli>
rclcpp::FutureReturnCode spin_node_until_future_complete(
    rclcpp::Executor& executor, std::shared_ptr<NodeT> node_ptr, const FutureT& future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  return spin_node_until_future_complete(executor, node_ptr->get_node_base_interface(), future,
                                         timeout);
}

}  // namespace executors

// Spins `node_ptr` on a temporary single-threaded executor until `future` completes.
template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
rclcpp::FutureReturnCode spin_until_future_complete(
    rclcpp::node_interfaces::NodeBaseInterface::SharedPtr node_ptr, const FutureT& future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  rclcpp::executors::SingleThreadedExecutor executor;
  return executors::spin_node_until_future_complete(executor, node_ptr, future, timeout);
}

template <typename NodeT, typename FutureT, typename TimeRepT = int64_t,
          typename TimeT = std::milli>
rclcpp::FutureReturnCode spin_until_future_complete(
    std::shared_ptr<NodeT> node_ptr, const FutureT& future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  return rclcpp::spin_until_future_complete(node_ptr->get_node_base_interface(), future, timeout);
}

template <typename NodeT>
void spin_some(std::shared_ptr<NodeT> node_ptr) {
  spin_some(node_ptr->get_node_base_interface());
}
template <typename NodeT>
void spin(std::shared_ptr<NodeT> node_ptr) {
  spin(node_ptr->get_node_base_interface());
}

}  // namespace rclcpp
