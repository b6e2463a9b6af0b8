#include "ros2_dds/dds_transport.hpp"

#include <cstring>
#include <stdexcept>
#include <vector>

#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>

#include "dds_qos.hpp"
#include "ros2_core/cdr_serialization.hpp"
#include "ros2_dds/cdr_sertype.hpp"
#include "ros2_dds/dds_names.hpp"
#include "ros2_dds/message_memory.hpp"
#include "take_samples.hpp"

namespace ros2_dds {
namespace {

using rosidl_typesupport_introspection_cpp::MessageMembers;

constexpr const char* kDiscoveryTopic = "ros_discovery_info";
constexpr const char* kDiscoveryType = "rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_";

Gid gid_of(dds_entity_t entity) {
  dds_guid_t guid;
  Gid gid{};
  if (dds_get_guid(entity, &guid) == DDS_RETCODE_OK) {
    std::memcpy(gid.data(), guid.v, gid.size());
  }
  return gid;
}

rmw_dds_common::msg::Gid to_message(const Gid& gid) {
  rmw_dds_common::msg::Gid message;
  std::memcpy(message.data.data(), gid.data(), gid.size());  // the rest stays zero
  return message;
}

const MessageMembers& discovery_members() {
  return ros2_core::introspection_members(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
          rmw_dds_common::msg::ParticipantEntitiesInfo>());
}

}  // namespace

struct DdsTransport::Writer {
  dds_entity_t writer{0};
  const ddsi_sertype* sertype{nullptr};
  const MessageMembers* members{nullptr};
  bool keeps_history{false};  // transient local: write even with nobody listening yet
  std::string topic;
  NodeKey node;
  Gid gid{};
};

struct DdsTransport::Reader {
  dds_entity_t reader{0};
  const MessageMembers* members{nullptr};
  std::shared_ptr<ros2_core::MessageSink> sink;
  ErrorHandler report_error;
  std::string topic;
  std::string type;
  NodeKey node;
  Gid gid{};
};

DdsTransport::DdsTransport(const DomainSettings& settings, ErrorHandler report_error)
    : report_error_(std::move(report_error)), domain_(DdsDomain::acquire(settings)) {
  DdsQos participant_qos(dds_create_qos(), &dds_delete_qos);
  // ROS 2 tools read the security enclave from the participant's user data.
  const std::string user_data = "enclave=/;";
  dds_qset_userdata(participant_qos.get(), user_data.data(), user_data.size());
  participant_ = dds_create_participant(settings.domain_id, participant_qos.get(), nullptr);
  if (participant_ < 0) {
    throw std::runtime_error("cannot create a DDS participant on domain " +
                             std::to_string(settings.domain_id) + ": " +
                             dds_strretcode(participant_));
  }
  ros2_core::QosProfile discovery_qos;
  discovery_qos.depth = 1;
  discovery_qos.durability = ros2_core::Durability::TransientLocal;
  const dds_entity_t topic = topic_for(kDiscoveryTopic, kDiscoveryType, &discovery_sertype_);
  if (topic >= 0) {
    discovery_writer_ =
        dds_create_writer(participant_, topic, to_dds_qos(discovery_qos, false).get(), nullptr);
  }
  if (topic < 0 || discovery_writer_ < 0) {
    dds_delete(participant_);
    throw std::runtime_error("cannot create the ROS 2 discovery writer on DDS domain " +
                             std::to_string(settings.domain_id));
  }
  publish_graph();
}

DdsTransport::~DdsTransport() {
  // Deleting the participant deletes its readers first, which waits for listener calls in
  // progress; only then may the reader records they point to go.
  dds_delete(participant_);
  std::lock_guard<std::mutex> lock(mutex_);
  readers_.clear();
  writers_.clear();
}

Gid DdsTransport::participant_gid() const {
  return gid_of(participant_);
}

dds_entity_t DdsTransport::topic(const std::string& dds_topic, const std::string& dds_type,
                                 const ddsi_sertype** sertype) {
  std::lock_guard<std::mutex> lock(mutex_);
  return topic_for(dds_topic, dds_type, sertype);
}

dds_entity_t DdsTransport::topic_for(const std::string& dds_topic, const std::string& dds_type,
                                     const ddsi_sertype** sertype) {
  // Called with mutex_ held, or from the constructor.
  auto key = std::make_pair(dds_topic, dds_type);
  if (auto it = topics_.find(key); it != topics_.end()) {
    *sertype = it->second.second;
    return it->second.first;
  }
  ddsi_sertype* type = create_cdr_sertype(dds_type);
  const dds_entity_t topic =
      dds_create_topic_sertype(participant_, dds_topic.c_str(), &type, nullptr, nullptr, nullptr);
  if (topic < 0) {
    ddsi_sertype_unref(type);
    return topic;
  }
  topics_.emplace(key, std::make_pair(topic, type));
  *sertype = type;
  return topic;
}

void DdsTransport::node_added(const std::string& node_namespace, const std::string& node_name) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.emplace(node_namespace, node_name);
  }
  publish_graph();
}

void DdsTransport::node_removed(const std::string& node_namespace, const std::string& node_name) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = nodes_.find({node_namespace, node_name});
    if (it == nodes_.end()) {
      return;
    }
    nodes_.erase(it);
  }
  publish_graph();
}

void DdsTransport::publisher_added(ros2_core::EndpointId id,
                                   const ros2_core::TopicEndpoint& endpoint) {
  if (endpoint.type_support == nullptr) {
    return;
  }
  std::string error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (writers_.count(id) != 0) {
      return;
    }
    auto writer = std::make_shared<Writer>();
    try {
      writer->members = &ros2_core::introspection_members(endpoint.type_support);
      const dds_entity_t topic =
          topic_for(dds_topic_name(endpoint.topic), dds_type_name(endpoint.type), &writer->sertype);
      if (topic < 0) {
        throw std::runtime_error(dds_strretcode(topic));
      }
      writer->writer =
          dds_create_writer(participant_, topic, to_dds_qos(endpoint.qos, false).get(), nullptr);
      if (writer->writer < 0) {
        throw std::runtime_error(dds_strretcode(writer->writer));
      }
    } catch (const std::exception& e) {
      error = "cannot offer topic '" + endpoint.topic + "' (" + endpoint.type +
              ") to other processes: " + e.what();
    }
    if (error.empty()) {
      writer->keeps_history = endpoint.qos.durability == ros2_core::Durability::TransientLocal;
      writer->topic = endpoint.topic;
      writer->node = {endpoint.node_namespace, endpoint.node_name};
      writer->gid = gid_of(writer->writer);
      writers_.emplace(id, std::move(writer));
    }
  }
  if (!error.empty()) {
    report_error_(error);
    return;
  }
  publish_graph();
}

void DdsTransport::publisher_removed(ros2_core::EndpointId id) {
  std::shared_ptr<Writer> writer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = writers_.find(id);
    if (it == writers_.end()) {
      return;
    }
    writer = std::move(it->second);
    writers_.erase(it);
  }
  dds_delete(writer->writer);
  publish_graph();
}

void DdsTransport::subscription_added(ros2_core::EndpointId id,
                                      const ros2_core::TopicEndpoint& endpoint,
                                      std::shared_ptr<ros2_core::MessageSink> sink) {
  if (endpoint.type_support == nullptr) {
    return;
  }
  std::string error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (readers_.count(id) != 0) {
      return;
    }
    auto reader = std::make_shared<Reader>();
    reader->sink = std::move(sink);
    reader->report_error = report_error_;
    reader->topic = endpoint.topic;
    reader->type = endpoint.type;
    reader->node = {endpoint.node_namespace, endpoint.node_name};
    try {
      reader->members = &ros2_core::introspection_members(endpoint.type_support);
      const ddsi_sertype* sertype = nullptr;
      const dds_entity_t topic =
          topic_for(dds_topic_name(endpoint.topic), dds_type_name(endpoint.type), &sertype);
      if (topic < 0) {
        throw std::runtime_error(dds_strretcode(topic));
      }
      std::unique_ptr<dds_listener_t, decltype(&dds_delete_listener)> listener(
          dds_create_listener(reader.get()), &dds_delete_listener);
      dds_lset_data_available(listener.get(), &DdsTransport::on_data_available);
      reader->reader = dds_create_reader(participant_, topic, to_dds_qos(endpoint.qos, true).get(),
                                         listener.get());
      if (reader->reader < 0) {
        throw std::runtime_error(dds_strretcode(reader->reader));
      }
    } catch (const std::exception& e) {
      error = "cannot receive topic '" + endpoint.topic + "' (" + endpoint.type +
              ") from other processes: " + e.what();
    }
    if (error.empty()) {
      reader->gid = gid_of(reader->reader);
      readers_.emplace(id, std::move(reader));
    }
  }
  if (!error.empty()) {
    report_error_(error);
    return;
  }
  publish_graph();
}

void DdsTransport::subscription_removed(ros2_core::EndpointId id) {
  std::shared_ptr<Reader> reader;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = readers_.find(id);
    if (it == readers_.end()) {
      return;
    }
    reader = std::move(it->second);
    readers_.erase(it);
  }
  // Waits for a listener call in progress, which uses `reader`.
  dds_delete(reader->reader);
  publish_graph();
}

bool DdsTransport::publish(ros2_core::EndpointId publisher,
                           const std::shared_ptr<const void>& message) {
  std::shared_ptr<Writer> writer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = writers_.find(publisher);
    if (it == writers_.end()) {
      // Not offered to other processes (no type support, or the writer could not be made,
      // which was reported): the in-process delivery is all there is.
      return true;
    }
    writer = it->second;
  }
  if (!writer->keeps_history) {
    // Serialising a point cloud nobody outside the process reads would be wasted work.
    dds_publication_matched_status_t status;
    if (dds_get_publication_matched_status(writer->writer, &status) == DDS_RETCODE_OK &&
        status.current_count == 0) {
      return true;
    }
  }
  std::vector<std::uint8_t> bytes;
  try {
    bytes = ros2_core::serialize(message.get(), *writer->members);
  } catch (const std::exception& e) {
    report_error_("cannot serialize a message for topic '" + writer->topic + "': " + e.what());
    return false;
  }
  const dds_return_t rc =
      dds_writecdr(writer->writer, make_cdr_serdata(writer->sertype, std::move(bytes)));
  return rc == DDS_RETCODE_OK;
}

std::size_t DdsTransport::remote_subscription_count(ros2_core::EndpointId publisher) const {
  dds_entity_t writer = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = writers_.find(publisher);
    if (it == writers_.end()) {
      return 0;
    }
    writer = it->second->writer;
  }
  dds_publication_matched_status_t status;
  return dds_get_publication_matched_status(writer, &status) == DDS_RETCODE_OK
             ? status.current_count
             : 0;
}

std::size_t DdsTransport::remote_publisher_count(ros2_core::EndpointId subscription) const {
  dds_entity_t reader = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = readers_.find(subscription);
    if (it == readers_.end()) {
      return 0;
    }
    reader = it->second->reader;
  }
  dds_subscription_matched_status_t status;
  return dds_get_subscription_matched_status(reader, &status) == DDS_RETCODE_OK
             ? status.current_count
             : 0;
}

void DdsTransport::on_data_available(dds_entity_t reader, void* arg) {
  const Reader& record = *static_cast<const Reader*>(arg);
  take_samples(reader, [&record](const std::vector<std::uint8_t>& bytes, const dds_sample_info_t&) {
    try {
      std::shared_ptr<void> message = make_message(*record.members);
      ros2_core::deserialize(bytes, message.get(), *record.members);
      record.sink->deliver(message);
    } catch (const std::exception& e) {
      record.report_error("dropped a malformed message on topic '" + record.topic + "' (" +
                          record.type + "): " + e.what());
    }
  });
}

void DdsTransport::publish_graph() {
  // One publication at a time, so that the last one written describes the latest state.
  std::lock_guard<std::mutex> order(graph_publish_mutex_);
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    info.gid = to_message(gid_of(participant_));
    std::map<NodeKey, std::size_t> index;
    for (const NodeKey& node : nodes_) {
      if (index.count(node) != 0) {
        continue;
      }
      index[node] = info.node_entities_info_seq.size();
      rmw_dds_common::msg::NodeEntitiesInfo entry;
      entry.node_namespace = node.first;
      entry.node_name = node.second;
      info.node_entities_info_seq.push_back(std::move(entry));
    }
    for (const auto& entry : readers_) {
      if (auto it = index.find(entry.second->node); it != index.end()) {
        info.node_entities_info_seq[it->second].reader_gid_seq.push_back(
            to_message(entry.second->gid));
      }
    }
    for (const auto& entry : writers_) {
      if (auto it = index.find(entry.second->node); it != index.end()) {
        info.node_entities_info_seq[it->second].writer_gid_seq.push_back(
            to_message(entry.second->gid));
      }
    }
  }
  std::vector<std::uint8_t> bytes = ros2_core::serialize(&info, discovery_members());
  const dds_return_t rc =
      dds_writecdr(discovery_writer_, make_cdr_serdata(discovery_sertype_, std::move(bytes)));
  if (rc != DDS_RETCODE_OK) {
    report_error_(std::string("cannot publish this process's nodes on ros_discovery_info: ") +
                  dds_strretcode(rc));
  }
}

}  // namespace ros2_dds
