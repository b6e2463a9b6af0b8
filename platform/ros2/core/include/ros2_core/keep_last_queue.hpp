// The bounded queue of undelivered messages of one subscription.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "ros2_core/message_sink.hpp"

namespace ros2_core {

// Holds at most `limit` messages (0: unbounded); a delivery into a full queue drops the
// oldest message, as a keep-last DDS reader does. After every delivery `on_ready` runs
// (outside the queue's lock) so that whoever executes the subscription can wake up.
// Thread-safe: deliveries and takes may come from any thread.
class KeepLastQueue : public MessageSink {
 public:
  KeepLastQueue(std::size_t limit, std::function<void()> on_ready);

  void deliver(const std::shared_ptr<const void>& message) override;

  // Removes and returns the oldest message; empty when there is none.
  std::shared_ptr<const void> take();
  bool empty() const;
  std::size_t size() const;
  // Messages discarded because the queue was full, since construction.
  std::size_t dropped() const;

 private:
  const std::size_t limit_;
  const std::function<void()> on_ready_;
  mutable std::mutex mutex_;
  std::deque<std::shared_ptr<const void>> messages_;  // guarded by mutex_, oldest first
  std::size_t dropped_{0};                            // guarded by mutex_
};

}  // namespace ros2_core
