// Receiving end of the topic graph.
#pragma once

#include <memory>

namespace ros2_core {

// Something that accepts messages routed to one subscription. The graph calls `deliver`
// from the publishing thread, without holding any lock of its own, so an implementation
// must be thread-safe and must not call back into the graph.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // `message` points to an object of the subscription's message type; it is shared with
  // every other subscription and must not be modified.
  virtual void deliver(const std::shared_ptr<const void>& message) = 0;
};

}  // namespace ros2_core
