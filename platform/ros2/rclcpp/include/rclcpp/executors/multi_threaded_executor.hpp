#pragma once

#include <chrono>
#include <cstddef>

#include "rclcpp/executor.hpp"

namespace rclcpp {
namespace executors {

// Runs callbacks on `number_of_threads` threads (0: one per hardware thread), the calling
// thread included. `timeout` bounds each wait for work (negative: no bound).
class MultiThreadedExecutor : public rclcpp::Executor {
 public:
  using SharedPtr = std::shared_ptr<MultiThreadedExecutor>;
  explicit MultiThreadedExecutor(const rclcpp::ExecutorOptions& options = rclcpp::ExecutorOptions(),
                                 size_t number_of_threads = 0, bool yield_before_execute = false,
                                 std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));
  // Blocks until cancel() or context shutdown; joins its threads and rethrows the first
  // exception a callback threw. Throws std::runtime_error when already spinning.
  void spin() override;
  size_t get_number_of_threads() const { return number_of_threads_; }

 private:
  void run(std::exception_ptr& failure, std::mutex& failure_mutex);

  const size_t number_of_threads_;
  const bool yield_before_execute_;
  const std::chrono::nanoseconds next_exec_timeout_;
};

}  // namespace executors
}  // namespace rclcpp
