#include "rclcpp/executor.hpp"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "rclcpp/executors.hpp"

namespace rclcpp {
namespace {

// Clears a flag when the scope ends, however it ends.
class FlagReset {
 public:
  explicit FlagReset(std::atomic_bool& flag) : flag_(flag) {}
  ~FlagReset() { flag_.store(false); }
  FlagReset(const FlagReset&) = delete;
  FlagReset& operator=(const FlagReset&) = delete;

 private:
  std::atomic_bool& flag_;
};

}  // namespace

Executor::Executor(const rclcpp::ExecutorOptions& options)
    : context_(options.context != nullptr ? options.context
                                          : contexts::get_global_default_context()),
      wake_(std::make_shared<ros2_core::GuardCondition>()) {
  std::weak_ptr<ros2_core::GuardCondition> weak_wake = wake_;
  shutdown_handle_ = context_->add_on_shutdown_callback([weak_wake] {
    if (auto wake = weak_wake.lock()) {
      wake->trigger();
    }
  });
}

Executor::~Executor() {
  context_->remove_on_shutdown_callback(shutdown_handle_);
  std::lock_guard<std::mutex> lock(membership_mutex_);
  for (const auto& weak : nodes_) {
    if (auto node = weak.lock()) {
      node->set_executor_wake_signal(nullptr);
      node->get_associated_with_executor_atomic().store(false);
    }
  }
  for (const auto& weak : groups_) {
    if (auto group = weak.lock()) {
      group->set_wake_signal(nullptr);
      group->get_associated_with_executor_atomic().store(false);
    }
  }
}

void Executor::add_node(node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify) {
  if (node_ptr == nullptr) {
    throw std::invalid_argument("add_node: the node must not be null");
  }
  if (node_ptr->get_associated_with_executor_atomic().exchange(true)) {
    throw std::runtime_error(std::string("Node '") + node_ptr->get_fully_qualified_name() +
                             "' has already been added to an executor.");
  }
  {
    std::lock_guard<std::mutex> lock(membership_mutex_);
    nodes_.push_back(node_ptr);
  }
  node_ptr->set_executor_wake_signal(wake_);
  if (notify) {
    wake_->trigger();
  }
}

void Executor::remove_node(node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify) {
  {
    std::lock_guard<std::mutex> lock(membership_mutex_);
    auto it = std::find_if(nodes_.begin(), nodes_.end(),
                           [&](const auto& weak) { return weak.lock() == node_ptr; });
    if (it == nodes_.end()) {
      throw std::runtime_error("Node needs to be associated with this executor.");
    }
    nodes_.erase(it);
  }
  node_ptr->set_executor_wake_signal(nullptr);
  node_ptr->get_associated_with_executor_atomic().store(false);
  if (notify) {
    wake_->trigger();
  }
}

void Executor::add_callback_group(CallbackGroup::SharedPtr group_ptr,
                                  node_interfaces::NodeBaseInterface::SharedPtr node_ptr,
                                  bool notify) {
  if (group_ptr == nullptr || node_ptr == nullptr || !node_ptr->callback_group_in_node(group_ptr)) {
    throw std::invalid_argument("add_callback_group: the group must belong to the given node");
  }
  if (group_ptr->get_associated_with_executor_atomic().exchange(true)) {
    throw std::runtime_error("Callback group has already been added to an executor.");
  }
  {
    std::lock_guard<std::mutex> lock(membership_mutex_);
    groups_.push_back(group_ptr);
  }
  group_ptr->set_wake_signal(wake_);
  if (notify) {
    wake_->trigger();
  }
}

void Executor::remove_callback_group(CallbackGroup::SharedPtr group_ptr, bool notify) {
  {
    std::lock_guard<std::mutex> lock(membership_mutex_);
    auto it = std::find_if(groups_.begin(), groups_.end(),
                           [&](const auto& weak) { return weak.lock() == group_ptr; });
    if (it == groups_.end()) {
      throw std::runtime_error("Callback group needs to be associated with executor.");
    }
    groups_.erase(it);
  }
  group_ptr->set_wake_signal(nullptr);
  group_ptr->get_associated_with_executor_atomic().store(false);
  if (notify) {
    wake_->trigger();
  }
}

std::vector<CallbackGroup::SharedPtr> Executor::serving_groups() {
  std::vector<node_interfaces::NodeBaseInterface::SharedPtr> nodes;
  std::vector<CallbackGroup::SharedPtr> groups;
  {
    std::lock_guard<std::mutex> lock(membership_mutex_);
    for (const auto& weak : nodes_) {
      if (auto node = weak.lock()) {
        nodes.push_back(node);
      }
    }
    for (const auto& weak : groups_) {
      if (auto group = weak.lock()) {
        groups.push_back(group);
      }
    }
  }
  for (const auto& node : nodes) {
    node->for_each_callback_group([&](CallbackGroup::SharedPtr group) {
      if (group->automatically_add_to_executor_with_node()) {
        groups.push_back(group);
      }
    });
  }
  return groups;
}

bool Executor::claim_ready(AnyExecutable& any_executable,
                           std::optional<Executable::SteadyTime>& next_deadline) {
  const auto now = std::chrono::steady_clock::now();
  std::vector<std::pair<CallbackGroup::SharedPtr, std::shared_ptr<Executable>>> candidates;
  for (const auto& group : serving_groups()) {
    // A busy mutually exclusive group offers nothing, not even timer deadlines: its release
    // triggers the wake-up signal.
    if (!group->can_be_taken_from().load()) {
      continue;
    }
    for (auto& executable : group->executables()) {
      candidates.emplace_back(group, std::move(executable));
    }
  }
  const std::size_t count = candidates.size();
  for (std::size_t k = 0; k < count; ++k) {
    auto& candidate = candidates[(rotation_ + k) % count];
    const CallbackGroup::SharedPtr& group = candidate.first;
    if (group->type() == CallbackGroupType::MutuallyExclusive) {
      // Claim the group first, so that no other thread starts one of its callbacks.
      bool expected = true;
      if (!group->can_be_taken_from().compare_exchange_strong(expected, false)) {
        continue;
      }
    }
    std::shared_ptr<const void> work;
    if (candidate.second->take_ready(now, work)) {
      any_executable.executable = candidate.second;
      any_executable.callback_group = group;
      any_executable.work = std::move(work);
      rotation_ = (rotation_ + k + 1) % count;
      return true;
    }
    if (group->type() == CallbackGroupType::MutuallyExclusive) {
      group->can_be_taken_from().store(true);
    }
    auto deadline = candidate.second->next_deadline();
    if (deadline && (!next_deadline || *deadline < *next_deadline)) {
      next_deadline = deadline;
    }
  }
  return false;
}

bool Executor::get_next_executable(AnyExecutable& any_executable,
                                   std::chrono::nanoseconds timeout) {
  const bool forever = timeout.count() < 0;
  const auto deadline =
      forever ? Executable::SteadyTime::max() : std::chrono::steady_clock::now() + timeout;
  std::lock_guard<std::mutex> wait_lock(wait_mutex_);
  while (true) {
    if (!spinning.load() || !context_ok()) {
      return false;
    }
    const std::uint64_t seen = wake_->generation();
    std::optional<Executable::SteadyTime> next_timer;
    if (claim_ready(any_executable, next_timer)) {
      return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!forever && now >= deadline) {
      return false;
    }
    auto wake_at = deadline;
    if (next_timer && *next_timer < wake_at) {
      wake_at = *next_timer;
    }
    if (wake_at == Executable::SteadyTime::max()) {
      wake_->wait_for_change(seen);
    } else {
      wake_->wait_for_change(seen, wake_at);
    }
  }
}

void Executor::release(AnyExecutable& any_executable) {
  if (any_executable.callback_group != nullptr &&
      any_executable.callback_group->type() == CallbackGroupType::MutuallyExclusive) {
    any_executable.callback_group->can_be_taken_from().store(true);
  }
  any_executable.executable.reset();
  any_executable.work.reset();
  // The group may hold more work that another thread should pick up now.
  wake_->trigger();
}

void Executor::execute_any_executable(AnyExecutable& any_executable) {
  if (any_executable.executable == nullptr) {
    return;
  }
  try {
    any_executable.executable->execute(any_executable.work);
  } catch (...) {
    release(any_executable);
    throw;
  }
  release(any_executable);
}

void Executor::spin_some(std::chrono::nanoseconds max_duration) {
  if (spinning.exchange(true)) {
    throw std::runtime_error("spin_some() called while already spinning");
  }
  FlagReset reset(spinning);
  const auto start = std::chrono::steady_clock::now();
  while (spinning.load() && context_ok()) {
    if (max_duration.count() > 0 && std::chrono::steady_clock::now() - start >= max_duration) {
      break;
    }
    AnyExecutable any;
    if (!get_next_executable(any, std::chrono::nanoseconds(0))) {
      break;
    }
    execute_any_executable(any);
  }
}

void Executor::spin_all(std::chrono::nanoseconds max_duration) {
  if (max_duration.count() <= 0) {
    throw std::invalid_argument("max_duration must be positive");
  }
  spin_some(max_duration);
}

void Executor::spin_once(std::chrono::nanoseconds timeout) {
  if (spinning.exchange(true)) {
    throw std::runtime_error("spin_once() called while already spinning");
  }
  FlagReset reset(spinning);
  AnyExecutable any;
  if (get_next_executable(any, timeout)) {
    execute_any_executable(any);
  }
}

void Executor::cancel() {
  spinning.store(false);
  wake_->trigger();
}

namespace executors {

void SingleThreadedExecutor::spin() {
  if (spinning.exchange(true)) {
    throw std::runtime_error("spin() called while already spinning");
  }
  FlagReset reset(spinning);
  while (context_ok() && spinning.load()) {
    AnyExecutable any;
    if (get_next_executable(any)) {
      execute_any_executable(any);
    }
  }
}

MultiThreadedExecutor::MultiThreadedExecutor(const rclcpp::ExecutorOptions& options,
                                             size_t number_of_threads, bool yield_before_execute,
                                             std::chrono::nanoseconds timeout)
    : rclcpp::Executor(options),
      number_of_threads_(number_of_threads != 0
                             ? number_of_threads
                             : std::max<size_t>(std::thread::hardware_concurrency(), 2)),
      yield_before_execute_(yield_before_execute),
      next_exec_timeout_(timeout) {}

void MultiThreadedExecutor::run(std::exception_ptr& failure, std::mutex& failure_mutex) {
  while (context_ok() && spinning.load()) {
    AnyExecutable any;
    if (!get_next_executable(any, next_exec_timeout_)) {
      continue;
    }
    if (yield_before_execute_) {
      std::this_thread::yield();
    }
    try {
      execute_any_executable(any);
    } catch (...) {
      {
        std::lock_guard<std::mutex> lock(failure_mutex);
        if (failure == nullptr) {
          failure = std::current_exception();
        }
      }
      cancel();
    }
  }
}

void MultiThreadedExecutor::spin() {
  if (spinning.exchange(true)) {
    throw std::runtime_error("spin() called while already spinning");
  }
  std::exception_ptr failure;
  std::mutex failure_mutex;
  {
    FlagReset reset(spinning);
    std::vector<std::thread> threads;
    threads.reserve(number_of_threads_ - 1);
    for (size_t i = 1; i < number_of_threads_; ++i) {
      threads.emplace_back([&] { run(failure, failure_mutex); });
    }
    run(failure, failure_mutex);
    for (auto& thread : threads) {
      thread.join();
    }
  }
  if (failure != nullptr) {
    std::rethrow_exception(failure);
  }
}

}  // namespace executors

void spin_some(node_interfaces::NodeBaseInterface::SharedPtr node_ptr) {
  executors::SingleThreadedExecutor executor([&] {
    ExecutorOptions options;
    options.context = node_ptr->get_context();
    return options;
  }());
  executor.add_node(node_ptr, false);
  executor.spin_some();
  executor.remove_node(node_ptr, false);
}

void spin(node_interfaces::NodeBaseInterface::SharedPtr node_ptr) {
  ExecutorOptions options;
  options.context = node_ptr->get_context();
  executors::SingleThreadedExecutor executor(options);
  executor.add_node(node_ptr, false);
  executor.spin();
  executor.remove_node(node_ptr, false);
}

}  // namespace rclcpp
