// Executors and the spin helpers.
#pragma once

#include <chrono>
#include <memory>

#include "rclcpp/executor.hpp"
#include "rclcpp/executors/multi_threaded_executor.hpp"
#include "rclcpp/executors/single_threaded_executor.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"

namespace rclcpp {

// Runs what is ready for `node_ptr` now on a temporary single-threaded executor.
void spin_some(node_interfaces::NodeBaseInterface::SharedPtr node_ptr);
// Spins `node_ptr` on a temporary single-threaded executor until shutdown.
void spin(node_interfaces::NodeBaseInterface::SharedPtr node_ptr);

template <typename NodeT>
void spin_some(std::shared_ptr<NodeT> node_ptr) {
  spin_some(node_ptr->get_node_base_interface());
}
template <typename NodeT>
void spin(std::shared_ptr<NodeT> node_ptr) {
  spin(node_ptr->get_node_base_interface());
}

}  // namespace rclcpp
