#include "ros2cli/wire_topic.hpp"

#include <iostream>

#include <rosidl_typesupport_introspection_cpp/identifier.hpp>

namespace ros2cli {

namespace {

constexpr ros2_core::EndpointId kPublisher = 1;
constexpr ros2_core::EndpointId kSubscription = 2;

}  // namespace

class WireTopic::Sink : public ros2_core::MessageSink {
 public:
  explicit Sink(Callback callback) : callback_(std::move(callback)) {}
  void deliver(const std::shared_ptr<const void>& message) override { callback_(message); }

 private:
  const Callback callback_;
};

WireTopic::WireTopic(const ros2_dds::DomainSettings& settings, std::string topic, MessageType type)
    : topic_(std::move(topic)),
      type_(std::move(type)),
      // A handle of our own around the description, since the registry hands out only the
      // members; the transport finds the introspection data through it.
      type_support_{rosidl_typesupport_introspection_cpp::typesupport_identifier, type_.members,
                    get_message_typesupport_handle_function},
      transport_(settings, [](const std::string& error) { std::cerr << error << std::endl; }) {}

WireTopic::~WireTopic() {
  if (subscribed_) {
    transport_.subscription_removed(kSubscription);
  }
  if (advertised_) {
    transport_.publisher_removed(kPublisher);
  }
}

ros2_core::TopicEndpoint WireTopic::endpoint(const ros2_core::QosProfile& qos) const {
  return ros2_core::TopicEndpoint{topic_, type_.name, qos, &type_support_, "", ""};
}

void WireTopic::subscribe(const ros2_core::QosProfile& qos, Callback callback) {
  transport_.subscription_added(kSubscription, endpoint(qos),
                                std::make_shared<Sink>(std::move(callback)));
  subscribed_ = true;
}

void WireTopic::advertise(const ros2_core::QosProfile& qos) {
  transport_.publisher_added(kPublisher, endpoint(qos));
  advertised_ = true;
}

bool WireTopic::publish(const std::shared_ptr<const void>& message) {
  return transport_.publish(kPublisher, message);
}

std::size_t WireTopic::subscription_count() const {
  return transport_.remote_subscription_count(kPublisher);
}

}  // namespace ros2cli
