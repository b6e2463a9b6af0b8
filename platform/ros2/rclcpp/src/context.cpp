#include "rclcpp/context.hpp"

#include <algorithm>

#include "rclcpp/exceptions/exceptions.hpp"
#include "rclcpp/logging.hpp"
#include "ros2_dds/dds_service_transport.hpp"
#include "ros2_dds/dds_transport.hpp"

namespace rclcpp {
namespace {

// Registry of live contexts for the signal handler; holds weak references only.
std::mutex& registry_mutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<std::weak_ptr<Context>>& registry() {
  static std::vector<std::weak_ptr<Context>> contexts;
  return contexts;
}

void register_context(const Context::SharedPtr& context) {
  std::lock_guard<std::mutex> lock(registry_mutex());
  auto& contexts = registry();
  contexts.erase(std::remove_if(contexts.begin(), contexts.end(),
                                [](const std::weak_ptr<Context>& c) { return c.expired(); }),
                 contexts.end());
  for (const auto& weak : contexts) {
    if (weak.lock() == context) {
      return;
    }
  }
  contexts.push_back(context);
}

}  // namespace

Context::Context()
    : graph_(std::make_shared<ros2_core::TopicGraph>([](const std::string& warning) {
        RCLCPP_WARN(rclcpp::get_logger("rclcpp"), "%s", warning.c_str());
      })) {}

Context::~Context() = default;

void Context::init(int argc, char const* const* argv, const InitOptions& init_options) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    if (argv[i] != nullptr) {
      arguments.emplace_back(argv[i]);
    }
  }
  // Parse before taking the lock: a bad command line leaves the context untouched.
  detail::RosArguments parsed = detail::parse_ros_arguments(arguments);
  if (is_valid()) {
    throw ContextAlreadyInitialized();
  }
  // Other processes are reached through one DDS participant per context, as rmw does it.
  auto report_error = [](const std::string& error) {
    RCLCPP_ERROR(rclcpp::get_logger("rmw_dds"), "%s", error.c_str());
  };
  std::shared_ptr<ros2_dds::DdsTransport> transport;
  std::shared_ptr<ros2_dds::DdsServiceTransport> service_transport;
  try {
    transport = std::make_shared<ros2_dds::DdsTransport>(
        ros2_dds::domain_settings_from_environment(), report_error);
    service_transport =
        std::make_shared<ros2_dds::DdsServiceTransport>(transport, service_graph_, report_error);
  } catch (const std::exception& e) {
    throw exceptions::RCLError("failed to initialize rmw context", e.what());
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (valid_) {
      throw ContextAlreadyInitialized();
    }
    arguments_ = std::move(parsed);
    init_options_ = init_options;
    shutdown_reason_.clear();
    valid_ = true;
  }
  if (arguments_.log_level) {
    rclcpp::get_logger("rclcpp").set_level(*arguments_.log_level);
  }
  graph_->set_transport(std::move(transport));
  service_graph_->set_transport(std::move(service_transport));
  register_context(shared_from_this());
}

bool Context::is_valid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return valid_;
}

const InitOptions& Context::get_init_options() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return init_options_;
}

std::string Context::shutdown_reason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_reason_;
}

bool Context::shutdown(const std::string& reason) {
  std::vector<PreShutdownCallback> pre_shutdown;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_ || shutting_down_) {
      return false;
    }
    shutting_down_ = true;
    for (const auto& entry : pre_shutdown_callbacks_) {
      pre_shutdown.push_back(entry.second);
    }
  }
  // While the context is still valid, and without the lock, so that they may use it.
  for (const auto& callback : pre_shutdown) {
    callback();
  }
  std::vector<OnShutdownCallback> callbacks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    valid_ = false;
    shutting_down_ = false;
    shutdown_reason_ = reason;
    for (const auto& entry : on_shutdown_callbacks_) {
      callbacks.push_back(entry.second);
    }
  }
  shutdown_signal_.notify_all();
  // Leaves the DDS domain: remote peers see this process's endpoints go.
  service_graph_->set_transport(nullptr);
  graph_->set_transport(nullptr);
  // Called without the lock so that a callback may use the context.
  for (const auto& callback : callbacks) {
    callback();
  }
  return true;
}

OnShutdownCallbackHandle Context::add_on_shutdown_callback(OnShutdownCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  OnShutdownCallbackHandle handle{next_callback_id_++};
  on_shutdown_callbacks_.emplace(handle.id, std::move(callback));
  return handle;
}

PreShutdownCallbackHandle Context::add_pre_shutdown_callback(PreShutdownCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  PreShutdownCallbackHandle handle{next_callback_id_++};
  pre_shutdown_callbacks_.emplace(handle.id, std::move(callback));
  return handle;
}

bool Context::remove_pre_shutdown_callback(const PreShutdownCallbackHandle& handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return pre_shutdown_callbacks_.erase(handle.id) != 0;
}

bool Context::remove_on_shutdown_callback(const OnShutdownCallbackHandle& handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return on_shutdown_callbacks_.erase(handle.id) != 0;
}

bool Context::sleep_for(const std::chrono::nanoseconds& nanoseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!valid_) {
    return false;
  }
  return !shutdown_signal_.wait_for(lock, nanoseconds, [this] { return !valid_; });
}

const detail::RosArguments& Context::get_global_arguments() const {
  return arguments_;
}

const std::vector<std::string>& Context::get_unparsed_ros_arguments() const {
  return arguments_.unparsed;
}

std::vector<Context::SharedPtr> get_contexts() {
  std::lock_guard<std::mutex> lock(registry_mutex());
  std::vector<Context::SharedPtr> result;
  for (const auto& weak : registry()) {
    if (auto context = weak.lock()) {
      result.push_back(context);
    }
  }
  return result;
}

namespace contexts {

DefaultContext::SharedPtr get_global_default_context() {
  static DefaultContext::SharedPtr context = std::make_shared<DefaultContext>();
  return context;
}

}  // namespace contexts
}  // namespace rclcpp
