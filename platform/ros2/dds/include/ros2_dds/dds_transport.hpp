// The process's link to other ROS 2 processes: one DDS participant, ROS 2's conventions on the
// wire.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include <dds/dds.h>

#include "ros2_core/transport.hpp"
#include "ros2_dds/dds_domain.hpp"

namespace ros2_dds {

using Gid = std::array<std::uint8_t, 16>;

// Every local publisher gets a DDS writer and every local subscription a DDS reader on the
// topic "rt/<name>" with the type "<pkg>::msg::dds_::<Type>_" and the endpoint's QoS; samples
// are CDR as ROS 2 writes it, made and parsed by ros2_core's introspection serializer. Readers
// ignore writers of this participant: the topic graph already delivers those in-process without
// a copy. The nodes and the ids of their endpoints are published on "ros_discovery_info" as
// rmw_dds_common/ParticipantEntitiesInfo, and the participant carries "enclave=/;", so that ROS 2
// tools list them.
//
// Thread-safe. Messages from other processes are parsed on Cyclone's receive thread and handed
// to the subscription's sink; a sample that does not parse is dropped with an error naming the
// topic, and later ones still arrive.
class DdsTransport : public ros2_core::Transport {
 public:
  using ErrorHandler = std::function<void(const std::string&)>;

  // Throws std::runtime_error when the domain or participant cannot be created.
  DdsTransport(const DomainSettings& settings, ErrorHandler report_error);
  ~DdsTransport() override;
  DdsTransport(const DdsTransport&) = delete;
  DdsTransport& operator=(const DdsTransport&) = delete;

  void node_added(const std::string& node_namespace, const std::string& node_name) override;
  void node_removed(const std::string& node_namespace, const std::string& node_name) override;
  void publisher_added(ros2_core::EndpointId id, const ros2_core::TopicEndpoint& endpoint) override;
  void publisher_removed(ros2_core::EndpointId id) override;
  void subscription_added(ros2_core::EndpointId id, const ros2_core::TopicEndpoint& endpoint,
                          std::shared_ptr<ros2_core::MessageSink> sink) override;
  void subscription_removed(ros2_core::EndpointId id) override;
  bool publish(ros2_core::EndpointId publisher,
               const std::shared_ptr<const void>& message) override;
  std::size_t remote_subscription_count(ros2_core::EndpointId publisher) const override;
  std::size_t remote_publisher_count(ros2_core::EndpointId subscription) const override;

  dds_entity_t participant() const { return participant_; }
  Gid participant_gid() const;

  // The DDS topic `dds_topic` of `dds_type` on this participant, made on first use, and its
  // sertype for dds_writecdr; a negative DDS return code on failure. Thread-safe.
  dds_entity_t topic(const std::string& dds_topic, const std::string& dds_type,
                     const ddsi_sertype** sertype);

 private:
  struct Writer;
  struct Reader;
  using NodeKey = std::pair<std::string, std::string>;  // namespace, name

  // The DDS topic of `endpoint` on this participant, made on first use; <0 on failure.
  dds_entity_t topic_for(const std::string& dds_topic, const std::string& dds_type,
                         const ddsi_sertype** sertype);
  void publish_graph();
  static void on_data_available(dds_entity_t reader, void* arg);

  const ErrorHandler report_error_;
  const std::shared_ptr<DdsDomain> domain_;
  dds_entity_t participant_{0};
  dds_entity_t discovery_writer_{0};
  const ddsi_sertype* discovery_sertype_{nullptr};

  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, std::pair<dds_entity_t, const ddsi_sertype*>>
      topics_;                                                        // guarded by mutex_
  std::map<ros2_core::EndpointId, std::shared_ptr<Writer>> writers_;  // guarded by mutex_
  std::map<ros2_core::EndpointId, std::shared_ptr<Reader>> readers_;  // guarded by mutex_
  std::multiset<NodeKey> nodes_;                                      // guarded by mutex_
  std::mutex graph_publish_mutex_;  // orders graph publications; taken before mutex_
};

}  // namespace ros2_dds
