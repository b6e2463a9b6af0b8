// Publishing and subscribing on a ROS 2 topic whose type is known only at run time.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <rosidl_runtime_c/message_type_support_struct.h>

#include "ros2_core/qos_profile.hpp"
#include "ros2_dds/dds_transport.hpp"
#include "ros2cli/type_support_registry.hpp"

namespace ros2cli {

// One DDS participant with at most one publisher and one subscription of `type` on `topic`,
// owned by no node (so `node list` does not show the tool). Messages arrive on a DDS thread.
class WireTopic {
 public:
  using Callback = std::function<void(const std::shared_ptr<const void>&)>;

  // Throws std::runtime_error when DDS refuses the participant.
  WireTopic(const ros2_dds::DomainSettings& settings, std::string topic, MessageType type);
  ~WireTopic();
  WireTopic(const WireTopic&) = delete;
  WireTopic& operator=(const WireTopic&) = delete;

  void subscribe(const ros2_core::QosProfile& qos, Callback callback);
  void advertise(const ros2_core::QosProfile& qos);
  // `message` is an object of the type; false when it could not be sent.
  bool publish(const std::shared_ptr<const void>& message);
  std::size_t subscription_count() const;

  const MessageType& type() const { return type_; }

 private:
  class Sink;

  ros2_core::TopicEndpoint endpoint(const ros2_core::QosProfile& qos) const;

  const std::string topic_;
  const MessageType type_;
  const rosidl_message_type_support_t type_support_;
  ros2_dds::DdsTransport transport_;
  bool subscribed_{false};
  bool advertised_{false};
};

}  // namespace ros2cli
