#include "ros2_dds/dds_graph_view.hpp"

#include <algorithm>
#include <set>
#include <stdexcept>

#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>

#include "ros2_core/cdr_serialization.hpp"
#include "ros2_dds/cdr_sertype.hpp"
#include "ros2_dds/dds_names.hpp"

namespace ros2_dds {

namespace {

constexpr std::uint32_t kBatch = 64;

std::string fully_qualified(const std::string& node_namespace, const std::string& name) {
  if (node_namespace.empty() || node_namespace == "/") {
    return "/" + name;
  }
  return node_namespace + "/" + name;
}

void check(dds_entity_t entity, dds_entity_t participant, const char* what) {
  if (entity < 0) {
    dds_delete(participant);
    throw std::runtime_error(std::string("cannot create the DDS ") + what + ": " +
                             dds_strretcode(entity));
  }
}

}  // namespace

DdsGraphView::DdsGraphView(const DomainSettings& settings) : domain_(DdsDomain::acquire(settings)) {
  participant_ = dds_create_participant(settings.domain_id, nullptr, nullptr);
  if (participant_ < 0) {
    throw std::runtime_error("cannot create a DDS participant on domain " +
                             std::to_string(settings.domain_id) + ": " +
                             dds_strretcode(participant_));
  }
  ddsi_sertype* sertype = create_cdr_sertype("rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_");
  const dds_entity_t topic = dds_create_topic_sertype(participant_, "ros_discovery_info", &sertype,
                                                      nullptr, nullptr, nullptr);
  if (topic < 0) {
    ddsi_sertype_unref(sertype);
  }
  check(topic, participant_, "topic ros_discovery_info");
  // As ROS 2 writes it: reliable and transient local, so that every participant's last state
  // reaches a reader that joins late.
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
  dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
  discovery_reader_ = dds_create_reader(participant_, topic, qos, nullptr);
  dds_delete_qos(qos);
  check(discovery_reader_, participant_, "reader of ros_discovery_info");
  publication_reader_ =
      dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr);
  check(publication_reader_, participant_, "reader of DCPSPublication");
  subscription_reader_ =
      dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, nullptr, nullptr);
  check(subscription_reader_, participant_, "reader of DCPSSubscription");
}

DdsGraphView::~DdsGraphView() {
  dds_delete(participant_);
}

void DdsGraphView::refresh() {
  take_nodes();
  take_endpoints(publication_reader_, publications_);
  take_endpoints(subscription_reader_, subscriptions_);
}

void DdsGraphView::take_nodes() {
  const auto& members = ros2_core::introspection_members(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
          rmw_dds_common::msg::ParticipantEntitiesInfo>());
  ddsi_serdata* sample = nullptr;
  dds_sample_info_t info;
  while (dds_takecdr(discovery_reader_, &sample, 1, &info, DDS_ANY_STATE) == 1) {
    const auto* bytes = info.valid_data ? cdr_bytes(sample) : nullptr;
    if (bytes != nullptr) {
      rmw_dds_common::msg::ParticipantEntitiesInfo entities;
      try {
        ros2_core::deserialize(*bytes, &entities, members);
        std::vector<std::string> names;
        for (const auto& node : entities.node_entities_info_seq) {
          names.push_back(fully_qualified(node.node_namespace, node.node_name));
        }
        // Each sample is the participant's whole state, so it replaces the one before.
        nodes_by_participant_[std::vector<std::uint8_t>(
            entities.gid.data.begin(), entities.gid.data.end())] = std::move(names);
      } catch (const std::exception&) {
        // Another implementation's malformed announcement must not hide everyone else's.
      }
    }
    ddsi_serdata_unref(sample);
  }
}

void DdsGraphView::take_endpoints(dds_entity_t reader,
                                  std::map<dds_instance_handle_t, GraphEndpoint>& into) {
  void* samples[kBatch] = {nullptr};
  dds_sample_info_t infos[kBatch];
  for (;;) {
    const dds_return_t count = dds_take(reader, samples, infos, kBatch, kBatch);
    if (count <= 0) {
      return;
    }
    for (dds_return_t i = 0; i < count; ++i) {
      const dds_sample_info_t& info = infos[i];
      if (info.instance_state != DDS_IST_ALIVE) {
        into.erase(info.instance_handle);
        continue;
      }
      if (!info.valid_data) {
        continue;
      }
      const auto* endpoint = static_cast<const dds_builtintopic_endpoint_t*>(samples[i]);
      const auto topic = ros_topic_name(endpoint->topic_name);
      const auto type = ros_type_name(endpoint->type_name);
      if (!topic || !type) {
        continue;
      }
      GraphEndpoint entry{*topic, *type, false, false};
      dds_reliability_kind_t reliability;
      dds_duration_t blocking;
      if (endpoint->qos != nullptr &&
          dds_qget_reliability(endpoint->qos, &reliability, &blocking)) {
        entry.best_effort = reliability == DDS_RELIABILITY_BEST_EFFORT;
      }
      dds_durability_kind_t durability;
      if (endpoint->qos != nullptr && dds_qget_durability(endpoint->qos, &durability)) {
        entry.transient_local = durability == DDS_DURABILITY_TRANSIENT_LOCAL;
      }
      into[info.instance_handle] = std::move(entry);
    }
    dds_return_loan(reader, samples, count);
    if (count < static_cast<dds_return_t>(kBatch)) {
      return;
    }
  }
}

std::vector<std::string> DdsGraphView::node_names() const {
  std::set<std::string> names;
  for (const auto& entry : nodes_by_participant_) {
    names.insert(entry.second.begin(), entry.second.end());
  }
  return {names.begin(), names.end()};
}

std::map<std::string, std::vector<std::string>> DdsGraphView::topic_types() const {
  std::map<std::string, std::set<std::string>> types;
  for (const auto* endpoints : {&publications_, &subscriptions_}) {
    for (const auto& entry : *endpoints) {
      types[entry.second.topic].insert(entry.second.type);
    }
  }
  std::map<std::string, std::vector<std::string>> result;
  for (auto& entry : types) {
    result[entry.first] = {entry.second.begin(), entry.second.end()};
  }
  return result;
}

std::vector<GraphEndpoint> DdsGraphView::publishers(const std::string& topic) const {
  std::vector<GraphEndpoint> result;
  for (const auto& entry : publications_) {
    if (entry.second.topic == topic) {
      result.push_back(entry.second);
    }
  }
  return result;
}

}  // namespace ros2_dds
