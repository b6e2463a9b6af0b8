#include <chrono>
#include <mutex>

#include "publisher_lookup.hpp"
#include "ros2cli/rate_statistics.hpp"
#include "ros2cli/wire_topic.hpp"

namespace ros2cli {

int topicHz(const TopicCommandContext& context, const std::string& name, std::size_t window) {
  const std::string topic = absoluteTopicName(name);
  const auto publishers = waitForPublishers(context, topic);
  if (!publishers) {
    return 0;
  }
  const auto type = lookUpType(context, publishers->front().type);
  if (!type) {
    return 1;
  }
  std::mutex mutex;
  RateStatistics statistics(window);  // guarded by mutex
  const auto start = std::chrono::steady_clock::now();
  WireTopic wire(context.settings, topic, *type);
  // Best effort, as ros2 measures with the sensor-data profile: it matches every publisher.
  QosChoice choice;
  choice.reliability = ros2_core::Reliability::BestEffort;
  choice.durability = ros2_core::Durability::Volatile;
  wire.subscribe(matchingQos(*publishers, choice), [&](const std::shared_ptr<const void>&) {
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - start;
    std::lock_guard<std::mutex> lock(mutex);
    statistics.add(since.count());
  });
  while (!context.stop.wait_for(std::chrono::seconds(1))) {
    std::optional<RateFigures> figures;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (statistics.has_new()) {
        figures = statistics.figures();
      }
    }
    if (figures) {
      context.out << formatRate(*figures) << std::endl;
    }
  }
  return 0;
}

}  // namespace ros2cli
