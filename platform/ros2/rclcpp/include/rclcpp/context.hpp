// The process-level state behind rclcpp::init/ok/shutdown, and the owner of the topic and service
// graphs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rclcpp/detail/ros_arguments.hpp"
#include "rclcpp/init_options.hpp"
#include "ros2_core/service_graph.hpp"
#include "ros2_core/topic_graph.hpp"

namespace rclcpp {

class ContextAlreadyInitialized : public std::runtime_error {
 public:
  ContextAlreadyInitialized() : std::runtime_error("context is already initialized") {}
};

// Handle of a callback registered with Context::add_on_shutdown_callback or
// add_pre_shutdown_callback.
struct OnShutdownCallbackHandle {
  std::uint64_t id{0};
};
using PreShutdownCallbackHandle = OnShutdownCallbackHandle;

// A context is valid between init and shutdown. It owns the topic graph its nodes share and
// the parsed global ROS arguments. Shutdown runs the registered callbacks once (executors use
// them to wake up) and interrupts sleep_for. Thread-safe; may be initialised again after a
// shutdown.
class Context : public std::enable_shared_from_this<Context> {
 public:
  using SharedPtr = std::shared_ptr<Context>;
  using OnShutdownCallback = std::function<void()>;

  Context();
  virtual ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  // Parses the ROS arguments of argv (argv[0] is the program). Throws
  // ContextAlreadyInitialized when valid, and the argument errors of parse_ros_arguments.
  virtual void init(int argc, char const* const* argv,
                    const InitOptions& init_options = InitOptions());
  bool is_valid() const;
  const InitOptions& get_init_options() const;
  std::string shutdown_reason() const;
  // Returns false when the context was not valid.
  virtual bool shutdown(const std::string& reason);

  OnShutdownCallbackHandle add_on_shutdown_callback(OnShutdownCallback callback);
  bool remove_on_shutdown_callback(const OnShutdownCallbackHandle& handle);
  // Called by shutdown while the context is still valid, before it becomes invalid and before
  // the on-shutdown callbacks; a callback may block to let work in progress finish.
  using PreShutdownCallback = std::function<void()>;
  PreShutdownCallbackHandle add_pre_shutdown_callback(PreShutdownCallback callback);
  bool remove_pre_shutdown_callback(const PreShutdownCallbackHandle& handle);

  // Sleeps up to `nanoseconds`; returns false when woken early by shutdown.
  bool sleep_for(const std::chrono::nanoseconds& nanoseconds);

  const detail::RosArguments& get_global_arguments() const;
  const std::vector<std::string>& get_unparsed_ros_arguments() const;
  std::shared_ptr<ros2_core::TopicGraph> get_topic_graph() const { return graph_; }
  std::shared_ptr<ros2_core::ServiceGraph> get_service_graph() const { return service_graph_; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable shutdown_signal_;
  bool valid_{false};                                                    // guarded by mutex_
  std::string shutdown_reason_;                                          // guarded by mutex_
  InitOptions init_options_;                                             // guarded by mutex_
  detail::RosArguments arguments_;                                       // written by init only
  std::uint64_t next_callback_id_{1};                                    // guarded by mutex_
  std::map<std::uint64_t, OnShutdownCallback> on_shutdown_callbacks_;    // guarded by mutex_
  std::map<std::uint64_t, PreShutdownCallback> pre_shutdown_callbacks_;  // guarded by mutex_
  bool shutting_down_{false};                                            // guarded by mutex_
  const std::shared_ptr<ros2_core::TopicGraph> graph_;
  const std::shared_ptr<ros2_core::ServiceGraph> service_graph_ =
      std::make_shared<ros2_core::ServiceGraph>();
};

// Every context alive in the process (the signal handler shuts them down).
std::vector<Context::SharedPtr> get_contexts();

namespace contexts {

class DefaultContext : public Context {
 public:
  using SharedPtr = std::shared_ptr<DefaultContext>;
};

DefaultContext::SharedPtr get_global_default_context();

}  // namespace contexts
}  // namespace rclcpp
