#include "publisher_lookup.hpp"

#include <chrono>

namespace ros2cli {

namespace {

// Discovery of a publisher already running takes a few DDS heartbeats.
constexpr std::chrono::milliseconds kFirstDiscovery{1000};
constexpr std::chrono::milliseconds kPoll{50};

}  // namespace

std::optional<std::vector<ros2_dds::GraphEndpoint>> waitForPublishers(
    const TopicCommandContext& context, const std::string& topic) {
  ros2_dds::DdsGraphView view(context.settings);
  const auto warn_at = std::chrono::steady_clock::now() + kFirstDiscovery;
  bool warned = false;
  for (;;) {
    view.refresh();
    auto publishers = view.publishers(topic);
    if (!publishers.empty()) {
      return publishers;
    }
    if (!warned && std::chrono::steady_clock::now() >= warn_at) {
      context.out << "WARNING: topic [" << topic << "] does not appear to be published yet"
                  << std::endl;
      warned = true;
    }
    if (context.stop.wait_for(kPoll)) {
      return std::nullopt;
    }
  }
}

ros2_core::QosProfile matchingQos(const std::vector<ros2_dds::GraphEndpoint>& publishers,
                                  const QosChoice& choice) {
  ros2_core::QosProfile qos;
  bool any_best_effort = false;
  bool all_transient_local = !publishers.empty();
  for (const auto& publisher : publishers) {
    any_best_effort = any_best_effort || publisher.best_effort;
    all_transient_local = all_transient_local && publisher.transient_local;
  }
  qos.reliability = choice.reliability.value_or(any_best_effort ? ros2_core::Reliability::BestEffort
                                                                : ros2_core::Reliability::Reliable);
  qos.durability =
      choice.durability.value_or(all_transient_local ? ros2_core::Durability::TransientLocal
                                                     : ros2_core::Durability::Volatile);
  qos.depth = choice.depth.value_or(10);
  return qos;
}

std::optional<MessageType> lookUpType(const TopicCommandContext& context, const std::string& name) {
  try {
    return context.registry.message(name);
  } catch (const std::exception& e) {
    context.err << "The passed message type is invalid" << std::endl;
    context.err << "  " << e.what() << std::endl;
    return std::nullopt;
  }
}

}  // namespace ros2cli
