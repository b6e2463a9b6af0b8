// Receiving end of the service graph.
#pragma once

#include <memory>

#include "ros2_core/service_transport.hpp"

namespace ros2_core {

// Accepts the requests routed to one server, or the replies routed to one client. The graph
// calls `deliver` from the sending thread without holding any lock of its own, so an
// implementation must be thread-safe and must not call back into the graph.
class ServiceSink {
 public:
  virtual ~ServiceSink() = default;
  // `message` is shared and must not be modified.
  virtual void deliver(const RequestId& id, const std::shared_ptr<const void>& message) = 0;
};

}  // namespace ros2_core
