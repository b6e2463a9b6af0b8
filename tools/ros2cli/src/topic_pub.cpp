#include <chrono>
#include <cmath>

#include "publisher_lookup.hpp"
#include "ros2cli/message_box.hpp"
#include "ros2cli/python_repr.hpp"
#include "ros2cli/wire_topic.hpp"
#include "ros2cli/yaml_message_reader.hpp"

namespace ros2cli {

namespace {

std::chrono::milliseconds milliseconds(double seconds) {
  return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000.0)));
}

}  // namespace

int publishTopic(const TopicCommandContext& context, const PubOptions& options) {
  const auto type = lookUpType(context, options.type);
  if (!type) {
    return 1;
  }
  std::shared_ptr<void> message = makeMessage(*type);
  try {
    fillMessageFromYaml(options.values, message.get(), *type->members);
  } catch (const std::exception& e) {
    context.err << "Failed to populate field: " << e.what() << std::endl;
    return 1;
  }
  WireTopic wire(context.settings, absoluteTopicName(options.topic), *type);
  wire.advertise(matchingQos({}, options.qos));
  context.out << "publisher: beginning loop" << std::endl;

  const bool once = options.times && *options.times == 1;
  const double wait_matching = options.wait_matching.value_or(once ? 1.0 : 0.0);
  const auto wait_end = std::chrono::steady_clock::now() + milliseconds(wait_matching);
  while (wire.subscription_count() == 0 && std::chrono::steady_clock::now() < wait_end) {
    if (context.stop.wait_for(std::chrono::milliseconds(10))) {
      return 0;
    }
  }

  const auto period = milliseconds(1.0 / options.rate);
  auto next = std::chrono::steady_clock::now();
  for (std::size_t count = 1; !options.times || count <= *options.times; ++count) {
    if (!wire.publish(message)) {
      context.err << "failed to publish message on " << absoluteTopicName(options.topic)
                  << std::endl;
      return 1;
    }
    if (options.print_every != 0 && (count - 1) % options.print_every == 0) {
      context.out << "publishing #" << count << ": " << pythonRepr(message.get(), *type->members)
                  << "\n"
                  << std::endl;
    }
    if (options.times && count == *options.times) {
      break;
    }
    next += period;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        next - std::chrono::steady_clock::now());
    if (context.stop.wait_for(std::max(left, std::chrono::milliseconds(0)))) {
      return 0;
    }
  }
  // Reliable delivery to the subscriptions found needs the participant a moment longer.
  context.stop.wait_for(std::chrono::milliseconds(300));
  return 0;
}

}  // namespace ros2cli
