#include "rclcpp/exceptions.hpp"
#include "rclcpp/publisher_base.hpp"
#include "rclcpp/subscription_base.hpp"

namespace rclcpp {
namespace {

QoS qos_from_profile(const ros2_core::QosProfile& profile) {
  QoS qos(QoSInitialization::from_rmw(profile));
  qos.reliability(profile.reliability == ros2_core::Reliability::BestEffort
                      ? ReliabilityPolicy::BestEffort
                      : ReliabilityPolicy::Reliable);
  qos.durability(profile.durability == ros2_core::Durability::TransientLocal
                     ? DurabilityPolicy::TransientLocal
                     : DurabilityPolicy::Volatile);
  return qos;
}

}  // namespace

SubscriptionBase::SubscriptionBase(std::shared_ptr<ros2_core::TopicGraph> graph,
                                   const ros2_core::TopicEndpoint& endpoint,
                                   CallbackGroup::SharedPtr group)
    : graph_(std::move(graph)),
      endpoint_(endpoint),
      queue_(std::make_shared<ros2_core::KeepLastQueue>(
          ros2_core::queue_limit(endpoint.qos), [weak_group = CallbackGroup::WeakPtr(group)] {
            if (auto g = weak_group.lock()) {
              g->trigger();
            }
          })) {
  id_ = graph_->add_subscription(endpoint_, queue_);
}

SubscriptionBase::~SubscriptionBase() {
  graph_->remove_subscription(id_);
}

size_t SubscriptionBase::get_publisher_count() const {
  return graph_->publisher_count(id_);
}

QoS SubscriptionBase::get_actual_qos() const {
  return qos_from_profile(endpoint_.qos);
}

bool SubscriptionBase::take_ready(SteadyTime, std::shared_ptr<const void>& work) {
  work = queue_->take();
  return work != nullptr;
}

PublisherBase::PublisherBase(Context::SharedPtr context, const ros2_core::TopicEndpoint& endpoint)
    : context_(std::move(context)), graph_(context_->get_topic_graph()), endpoint_(endpoint) {
  id_ = graph_->add_publisher(endpoint_);
}

PublisherBase::~PublisherBase() {
  graph_->remove_publisher(id_);
}

size_t PublisherBase::get_subscription_count() const {
  return graph_->subscription_count(id_);
}

QoS PublisherBase::get_actual_qos() const {
  return qos_from_profile(endpoint_.qos);
}

void PublisherBase::publish_shared(const std::shared_ptr<const void>& message) {
  if (!context_->is_valid()) {
    // Publishing into a shut-down context is silently dropped, as rclcpp does.
    return;
  }
  if (!graph_->publish(id_, message)) {
    throw exceptions::RCLError(
        "failed to publish message",
        "the transport did not accept the message on topic '" + endpoint_.topic + "'");
  }
}

}  // namespace rclcpp
