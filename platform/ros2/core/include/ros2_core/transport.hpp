// The seam where messages leave and enter the process.
#pragma once

#include <memory>
#include <string>

#include "ros2_core/qos_profile.hpp"

namespace ros2_core {

// One publisher or subscription as the graph knows it. `type` is the message type's name
// as rosidl spells it ("sensor_msgs/msg/PointCloud2").
struct TopicEndpoint {
  std::string topic;
  std::string type;
  QosProfile qos;
};

// An inter-process transport plugs in here. The graph hands it every message published in
// this process and announces local endpoints; the transport hands messages from other
// processes back through TopicGraph::deliver_from_transport. Calls come from any thread.
class Transport {
 public:
  virtual ~Transport() = default;
  virtual void publisher_added(const TopicEndpoint& endpoint) = 0;
  virtual void subscription_added(const TopicEndpoint& endpoint) = 0;
  // Returns false when the message could not be sent; the publisher reports that as an error.
  virtual bool publish(const TopicEndpoint& publisher,
                       const std::shared_ptr<const void>& message) = 0;
};

}  // namespace ros2_core
