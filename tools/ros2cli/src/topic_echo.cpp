#include <atomic>
#include <chrono>
#include <mutex>

#include "publisher_lookup.hpp"
#include "ros2cli/wire_topic.hpp"

namespace ros2cli {

int echoTopic(const TopicCommandContext& context, const EchoOptions& options) {
  const std::string topic = absoluteTopicName(options.topic);
  std::optional<MessageType> type;
  if (options.type) {
    type = lookUpType(context, *options.type);
    if (!type) {
      return 1;
    }
  }
  const auto publishers = waitForPublishers(context, topic);
  if (!publishers) {
    return 0;
  }
  if (!type) {
    type = lookUpType(context, publishers->front().type);
    if (!type) {
      return 1;
    }
  }
  std::mutex print_mutex;
  std::atomic<bool> printed_one{false};
  WireTopic wire(context.settings, topic, *type);
  const MessageMembers& members = *type->members;
  wire.subscribe(
      matchingQos(*publishers, options.qos), [&](const std::shared_ptr<const void>& message) {
        std::lock_guard<std::mutex> lock(print_mutex);
        if (options.once && printed_one) {
          return;
        }
        context.out << messageToYaml(message.get(), members, options.print) << std::flush;
        printed_one = true;
      });
  while (!(options.once && printed_one)) {
    if (context.stop.wait_for(std::chrono::milliseconds(20))) {
      break;
    }
  }
  return 0;
}

}  // namespace ros2cli
