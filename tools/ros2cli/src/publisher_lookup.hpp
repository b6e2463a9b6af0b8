// What echo and hz need to know about a topic's publishers before subscribing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ros2_dds/dds_graph_view.hpp"
#include "ros2cli/topic_commands.hpp"

namespace ros2cli {

// Waits for the publishers of `topic`; after a first round of discovery without any, prints
// ros2's "WARNING: topic [...] does not appear to be published yet" once and keeps waiting.
// nullopt when stopped first.
std::optional<std::vector<ros2_dds::GraphEndpoint>> waitForPublishers(
    const TopicCommandContext& context, const std::string& topic);

// A subscription QoS that every publisher can serve: best effort when any of them is, transient
// local only when all are; the command line's choice wins.
ros2_core::QosProfile matchingQos(const std::vector<ros2_dds::GraphEndpoint>& publishers,
                                  const QosChoice& choice);

// The type named `name`; nullopt, with "The passed message type is invalid" printed, when the
// name is malformed or no such type is installed.
std::optional<MessageType> lookUpType(const TopicCommandContext& context, const std::string& name);

}  // namespace ros2cli
