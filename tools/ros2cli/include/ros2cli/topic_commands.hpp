// The verbs that read the DDS graph or move messages: node list, topic list/echo/hz/pub.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

#include "ros2_core/qos_profile.hpp"
#include "ros2_dds/dds_domain.hpp"
#include "ros2cli/stop_signal.hpp"
#include "ros2cli/type_support_registry.hpp"
#include "ros2cli/yaml_printer.hpp"

namespace ros2cli {

// What every such verb works with. Each returns the exit status (0, or 1 on errors it printed).
struct TopicCommandContext {
  ros2_dds::DomainSettings settings;
  TypeSupportRegistry& registry;
  StopSignal& stop;
  std::ostream& out;
  std::ostream& err;
};

// QoS given on the command line; unset parts follow the publishers (echo) or ROS 2's defaults.
struct QosChoice {
  std::optional<ros2_core::Reliability> reliability;
  std::optional<ros2_core::Durability> durability;
  std::optional<std::size_t> depth;
};

// Listens `spin_time` seconds for discovery, then prints fully qualified node names, sorted;
// names whose last part starts with '_' (hidden nodes) only with `all`.
int listNodes(const TopicCommandContext& context, double spin_time, bool all);

// Listens `spin_time` seconds, then prints ROS 2 topic names, sorted, with " [type, ...]" when
// `types` is set.
int listTopics(const TopicCommandContext& context, double spin_time, bool types);

struct EchoOptions {
  std::string topic;
  std::optional<std::string> type;  // found from the publishers when unset
  bool once{false};
  YamlPrintOptions print;
  QosChoice qos;
};
int echoTopic(const TopicCommandContext& context, const EchoOptions& options);

int topicHz(const TopicCommandContext& context, const std::string& topic, std::size_t window);

struct PubOptions {
  std::string topic;
  std::string type;
  std::string values{"{}"};
  double rate{1.0};
  std::optional<std::size_t> times;  // unset: until interrupted
  std::size_t print_every{1};        // 0: never
  // How long to wait for a subscription before the first message; unset: 1 s with --once.
  std::optional<double> wait_matching;
  QosChoice qos;
};
int publishTopic(const TopicCommandContext& context, const PubOptions& options);

// "/x" for "x"; names that already start with '/' stay.
std::string absoluteTopicName(const std::string& topic);

}  // namespace ros2cli
