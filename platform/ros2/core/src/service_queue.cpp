#include "ros2_core/service_queue.hpp"

#include <utility>

namespace ros2_core {

ServiceQueue::ServiceQueue(std::size_t limit, std::function<void()> on_ready)
    : limit_(limit), on_ready_(std::move(on_ready)) {}

void ServiceQueue::deliver(const RequestId& id, const std::shared_ptr<const void>& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (limit_ != 0 && samples_.size() >= limit_) {
      samples_.pop_front();
    }
    samples_.push_back(ServiceSample{id, message});
  }
  if (on_ready_) {
    on_ready_();
  }
}

std::optional<ServiceSample> ServiceQueue::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (samples_.empty()) {
    return std::nullopt;
  }
  ServiceSample oldest = std::move(samples_.front());
  samples_.pop_front();
  return oldest;
}

std::size_t ServiceQueue::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_.size();
}

}  // namespace ros2_core
