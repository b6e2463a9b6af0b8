// What a ROS 2 domain holds as seen from outside any node: nodes, topics, their types and QoS.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <dds/dds.h>

#include "ros2_dds/dds_domain.hpp"

namespace ros2_dds {

// One DDS writer or reader of a ROS 2 topic, as DDS discovery announces it.
struct GraphEndpoint {
  std::string topic;  // "/scan"
  std::string type;   // "sensor_msgs/msg/PointCloud2"
  bool best_effort{false};
  bool transient_local{false};
};

// A participant of its own that only listens: to "ros_discovery_info" for the nodes of every
// participant, and to DDS's built-in publication and subscription topics for endpoints. It writes
// nothing, so the tools built on it never appear in what they list. refresh() takes what arrived
// since the last call; the accessors answer from that. Not thread-safe; one user thread.
class DdsGraphView {
 public:
  // Throws std::runtime_error when the participant or its readers cannot be created.
  explicit DdsGraphView(const DomainSettings& settings);
  ~DdsGraphView();
  DdsGraphView(const DdsGraphView&) = delete;
  DdsGraphView& operator=(const DdsGraphView&) = delete;

  void refresh();

  // Fully qualified names ("/ns/name") of every node announced, sorted, each once.
  std::vector<std::string> node_names() const;
  // ROS 2 topics with a publisher or subscription, each with its types, sorted by name.
  std::map<std::string, std::vector<std::string>> topic_types() const;
  // The live publishers of `topic` ("/x").
  std::vector<GraphEndpoint> publishers(const std::string& topic) const;

 private:
  void take_endpoints(dds_entity_t reader, std::map<dds_instance_handle_t, GraphEndpoint>& into);
  void take_nodes();

  const std::shared_ptr<DdsDomain> domain_;
  dds_entity_t participant_{0};
  dds_entity_t discovery_reader_{0};
  dds_entity_t publication_reader_{0};
  dds_entity_t subscription_reader_{0};
  std::map<std::vector<std::uint8_t>, std::vector<std::string>> nodes_by_participant_;
  std::map<dds_instance_handle_t, GraphEndpoint> publications_;
  std::map<dds_instance_handle_t, GraphEndpoint> subscriptions_;
};

}  // namespace ros2_dds
