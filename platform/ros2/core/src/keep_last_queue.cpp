#include "ros2_core/keep_last_queue.hpp"

#include <utility>

namespace ros2_core {

KeepLastQueue::KeepLastQueue(std::size_t limit, std::function<void()> on_ready)
    : limit_(limit), on_ready_(std::move(on_ready)) {}

void KeepLastQueue::deliver(const std::shared_ptr<const void>& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (limit_ != 0 && messages_.size() >= limit_) {
      messages_.pop_front();
      ++dropped_;
    }
    messages_.push_back(message);
  }
  if (on_ready_) {
    on_ready_();
  }
}

std::shared_ptr<const void> KeepLastQueue::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) {
    return nullptr;
  }
  std::shared_ptr<const void> oldest = std::move(messages_.front());
  messages_.pop_front();
  return oldest;
}

bool KeepLastQueue::empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.empty();
}

std::size_t KeepLastQueue::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}

std::size_t KeepLastQueue::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

}  // namespace ros2_core
