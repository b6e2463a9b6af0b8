// The queue of requests waiting for a server, or of replies waiting for a client.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "ros2_core/service_sink.hpp"

namespace ros2_core {

// One request or reply with the id that pairs them.
struct ServiceSample {
  RequestId id;
  std::shared_ptr<const void> message;
};

// Holds at most `limit` samples (0: unbounded), dropping the oldest when full as a keep-last
// DDS reader does. After every delivery `on_ready` runs outside the queue's lock, so that
// whoever executes the server or client can wake up. Thread-safe.
class ServiceQueue : public ServiceSink {
 public:
  ServiceQueue(std::size_t limit, std::function<void()> on_ready);

  void deliver(const RequestId& id, const std::shared_ptr<const void>& message) override;

  // Removes and returns the oldest sample; empty when there is none.
  std::optional<ServiceSample> take();
  std::size_t size() const;

 private:
  const std::size_t limit_;
  const std::function<void()> on_ready_;
  mutable std::mutex mutex_;
  std::deque<ServiceSample> samples_;  // guarded by mutex_, oldest first
};

}  // namespace ros2_core
