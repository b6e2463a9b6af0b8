#include "ros2_dds/dds_service_transport.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dds_qos.hpp"
#include "ros2_core/cdr_serialization.hpp"
#include "ros2_dds/cdr_sertype.hpp"
#include "ros2_dds/dds_names.hpp"
#include "ros2_dds/message_memory.hpp"
#include "take_samples.hpp"

namespace ros2_dds {
namespace {

using rosidl_typesupport_introspection_cpp::MessageMembers;

constexpr std::size_t kEncapsulationSize = 4;
constexpr std::size_t kRequestHeaderSize = 16;  // client id (8 bytes), sequence number (8 bytes)

struct RequestHeader {
  std::uint64_t client{0};
  std::int64_t sequence{0};
};

void append_little_endian(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

// Our serializer writes little-endian samples: the header follows in the same byte order. The
// message stays aligned as before, since the header is a whole number of 8-byte words.
std::vector<std::uint8_t> with_request_header(const std::vector<std::uint8_t>& sample,
                                              const RequestHeader& header) {
  std::vector<std::uint8_t> out;
  out.reserve(sample.size() + kRequestHeaderSize);
  out.insert(out.end(), sample.begin(), sample.begin() + kEncapsulationSize);
  append_little_endian(out, header.client);
  append_little_endian(out, static_cast<std::uint64_t>(header.sequence));
  out.insert(out.end(), sample.begin() + kEncapsulationSize, sample.end());
  return out;
}

// Splits a received sample into its header and the plain message sample (encapsulation and
// body). Throws std::runtime_error for a sample too short to hold the header or with an
// encapsulation that is not plain CDR.
std::vector<std::uint8_t> split_request_header(const std::vector<std::uint8_t>& sample,
                                               RequestHeader& header) {
  if (sample.size() < kEncapsulationSize + kRequestHeaderSize) {
    throw std::runtime_error("a sample of " + std::to_string(sample.size()) +
                             " bytes cannot hold the 16-byte request header");
  }
  if (sample[0] != 0 || sample[1] > 1) {
    throw std::runtime_error("unknown CDR encapsulation");
  }
  const bool big_endian = sample[1] == 0;
  auto read = [&](std::size_t offset) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
      const std::uint64_t byte = sample[offset + static_cast<std::size_t>(i)];
      value |= big_endian ? byte << (8 * (7 - i)) : byte << (8 * i);
    }
    return value;
  };
  header.client = read(kEncapsulationSize);
  header.sequence = static_cast<std::int64_t>(read(kEncapsulationSize + 8));
  std::vector<std::uint8_t> message(sample.begin(), sample.begin() + kEncapsulationSize);
  message.insert(message.end(), sample.begin() + kEncapsulationSize + kRequestHeaderSize,
                 sample.end());
  return message;
}

// A request id keeps, in host order, the client id from the request header in the first half of
// its writer guid and, in the second, the handle under which this participant knows the writer
// the request came from. The client id is the client's own handle of that writer, which means
// nothing in this process; the reply needs the local one to find the client's reply reader.
ros2_core::Guid guid_of_request(std::uint64_t client, dds_instance_handle_t request_writer) {
  ros2_core::Guid guid{};
  static_assert(sizeof(client) + sizeof(request_writer) == std::tuple_size<ros2_core::Guid>::value,
                "a request id holds the client id and the request writer's handle");
  std::memcpy(guid.data(), &client, sizeof(client));
  std::memcpy(guid.data() + sizeof(client), &request_writer, sizeof(request_writer));
  return guid;
}

std::uint64_t client_of_guid(const ros2_core::Guid& guid) {
  std::uint64_t client = 0;
  std::memcpy(&client, guid.data(), sizeof(client));
  return client;
}

dds_instance_handle_t request_writer_of_guid(const ros2_core::Guid& guid) {
  dds_instance_handle_t request_writer = 0;
  std::memcpy(&request_writer, guid.data() + sizeof(std::uint64_t), sizeof(request_writer));
  return request_writer;
}

// How long a reply waits for the asking client's reply reader to be discovered.
constexpr std::chrono::milliseconds kReplyReaderWait{1000};

// The user data keys under which ROS 2's Cyclone middleware marks the request writer and reply
// reader of one client, and the request reader and reply writer of one server, as a pair.
const char* const kClientIdKey = "clientid";
const char* const kServiceIdKey = "serviceid";

std::string id_text(const std::uint8_t* bytes, std::size_t size) {
  static const char* const digits = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) {
      text += '.';
    }
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0xf];
  }
  return text;
}

// The QoS of one client's or server's writer and reader, both marked with `id` under `key`.
struct PairedQos {
  DdsQos writer;
  DdsQos reader;
};

PairedQos paired_qos(const ros2_core::QosProfile& profile, const char* key, const std::string& id) {
  PairedQos qos{to_dds_qos(profile, false), to_dds_qos(profile, true)};
  set_user_data_pair(qos.writer.get(), key, id);
  set_user_data_pair(qos.reader.get(), key, id);
  return qos;
}

// Whether `replies` (a server's reply writer) is matched with the reply reader of the client
// whose request writer is `request_writer` (a handle of a writer matched with `requests`, the
// server's request reader). A client that found the server's request reader may send before the
// server has found the client's reply reader; a reply written then reaches no one. The reader is
// the one with the writer's client id or, for a client that marks neither, any reader of the
// writer's participant. A writer that is gone counts as matched: there is nothing to wait for.
bool replyReaderMatched(dds_entity_t requests, dds_entity_t replies,
                        dds_instance_handle_t request_writer) {
  dds_builtintopic_endpoint_t* writer = dds_get_matched_publication_data(requests, request_writer);
  if (writer == nullptr) {
    return true;
  }
  const dds_guid_t participant = writer->participant_key;
  const std::optional<std::string> client_id = user_data_value(writer->qos, kClientIdKey);
  dds_builtintopic_free_endpoint(writer);
  std::vector<dds_instance_handle_t> readers(16);
  dds_return_t count = dds_get_matched_subscriptions(replies, readers.data(), readers.size());
  if (count > static_cast<dds_return_t>(readers.size())) {
    readers.resize(static_cast<std::size_t>(count));
    count = dds_get_matched_subscriptions(replies, readers.data(), readers.size());
  }
  if (count < 0) {
    return true;  // the writer cannot tell: waiting would not help
  }
  for (dds_return_t i = 0; i < std::min<dds_return_t>(count, readers.size()); ++i) {
    dds_builtintopic_endpoint_t* reader = dds_get_matched_subscription_data(replies, readers[i]);
    if (reader == nullptr) {
      continue;
    }
    const bool same =
        client_id ? user_data_value(reader->qos, kClientIdKey) == client_id
                  : std::memcmp(&reader->participant_key, &participant, sizeof(participant)) == 0;
    dds_builtintopic_free_endpoint(reader);
    if (same) {
      return true;
    }
  }
  return false;
}

}  // namespace

struct DdsServiceTransport::Server {
  dds_entity_t requests{0};
  dds_entity_t replies{0};
  const ddsi_sertype* reply_type{nullptr};
  const MessageMembers* request_members{nullptr};
  const MessageMembers* response_members{nullptr};
  std::string service;
  std::string type;
  std::weak_ptr<ros2_core::ServiceGraph> graph;
  ErrorHandler report_error;
};

struct DdsServiceTransport::Client {
  dds_entity_t requests{0};
  dds_entity_t replies{0};
  const ddsi_sertype* request_type{nullptr};
  const MessageMembers* request_members{nullptr};
  const MessageMembers* response_members{nullptr};
  std::uint64_t wire_id{0};
  ros2_core::Guid guid{};
  std::string service;
  std::string type;
  std::weak_ptr<ros2_core::ServiceGraph> graph;
  ErrorHandler report_error;
};

DdsServiceTransport::DdsServiceTransport(std::shared_ptr<DdsTransport> participant,
                                         std::weak_ptr<ros2_core::ServiceGraph> graph,
                                         ErrorHandler report_error)
    : participant_(std::move(participant)),
      graph_(std::move(graph)),
      report_error_(std::move(report_error)) {}

DdsServiceTransport::~DdsServiceTransport() {
  std::multimap<ServiceKey, std::shared_ptr<Server>> servers;
  std::map<ros2_core::Guid, std::shared_ptr<Client>> clients;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    servers.swap(servers_);
    clients.swap(clients_);
  }
  // Readers first: deleting one waits for its listener calls, which use the records.
  for (const auto& entry : servers) {
    dds_delete(entry.second->requests);
    dds_delete(entry.second->replies);
  }
  for (const auto& entry : clients) {
    dds_delete(entry.second->replies);
    dds_delete(entry.second->requests);
  }
}

void DdsServiceTransport::server_added(const ros2_core::ServiceEndpoint& server) {
  auto record = std::make_shared<Server>();
  record->service = server.service;
  record->type = server.type;
  record->graph = graph_;
  record->report_error = report_error_;
  std::string error;
  try {
    if (server.members == nullptr) {
      throw std::invalid_argument("no type support");
    }
    record->request_members = server.members->request_members_;
    record->response_members = server.members->response_members_;
    const ddsi_sertype* request_type = nullptr;
    const dds_entity_t request_topic =
        participant_->topic(dds_request_topic_name(server.service),
                            dds_type_name(server.type + "_Request"), &request_type);
    const dds_entity_t reply_topic =
        participant_->topic(dds_reply_topic_name(server.service),
                            dds_type_name(server.type + "_Response"), &record->reply_type);
    if (request_topic < 0 || reply_topic < 0) {
      throw std::runtime_error(dds_strretcode(std::min(request_topic, reply_topic)));
    }
    const PairedQos qos = paired_qos(server.qos, kServiceIdKey, next_service_id());
    record->replies =
        dds_create_writer(participant_->participant(), reply_topic, qos.writer.get(), nullptr);
    std::unique_ptr<dds_listener_t, decltype(&dds_delete_listener)> listener(
        dds_create_listener(record.get()), &dds_delete_listener);
    dds_lset_data_available(listener.get(), &DdsServiceTransport::on_request);
    record->requests = dds_create_reader(participant_->participant(), request_topic,
                                         qos.reader.get(), listener.get());
    if (record->replies < 0 || record->requests < 0) {
      dds_delete(record->requests);
      dds_delete(record->replies);
      throw std::runtime_error(dds_strretcode(std::min(record->replies, record->requests)));
    }
  } catch (const std::exception& e) {
    error = "cannot offer service '" + server.service + "' (" + server.type +
            ") to other processes: " + e.what();
  }
  if (!error.empty()) {
    report_error_(error);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  servers_.emplace(ServiceKey{server.service, server.type}, std::move(record));
}

std::string DdsServiceTransport::next_service_id() {
  const Gid participant = participant_->participant_gid();
  std::uint32_t number = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    number = ++servers_made_;
  }
  std::array<std::uint8_t, 16> id{};
  std::copy(participant.begin(), participant.begin() + 12, id.begin());
  for (int i = 0; i < 4; ++i) {
    id[12 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(number >> (24 - 8 * i));
  }
  return id_text(id.data(), id.size());
}

void DdsServiceTransport::server_removed(const ros2_core::ServiceEndpoint& server) {
  std::shared_ptr<Server> record;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = servers_.find({server.service, server.type});
    if (it == servers_.end()) {
      return;
    }
    record = std::move(it->second);
    servers_.erase(it);
  }
  dds_delete(record->requests);
  dds_delete(record->replies);
}

void DdsServiceTransport::client_added(const ros2_core::ServiceEndpoint& client,
                                       const ros2_core::Guid& guid) {
  auto record = std::make_shared<Client>();
  record->guid = guid;
  record->service = client.service;
  record->type = client.type;
  record->graph = graph_;
  record->report_error = report_error_;
  std::string error;
  try {
    if (client.members == nullptr) {
      throw std::invalid_argument("no type support");
    }
    record->request_members = client.members->request_members_;
    record->response_members = client.members->response_members_;
    const ddsi_sertype* reply_type = nullptr;
    const dds_entity_t request_topic =
        participant_->topic(dds_request_topic_name(client.service),
                            dds_type_name(client.type + "_Request"), &record->request_type);
    const dds_entity_t reply_topic =
        participant_->topic(dds_reply_topic_name(client.service),
                            dds_type_name(client.type + "_Response"), &reply_type);
    if (request_topic < 0 || reply_topic < 0) {
      throw std::runtime_error(dds_strretcode(std::min(request_topic, reply_topic)));
    }
    std::unique_ptr<dds_listener_t, decltype(&dds_delete_listener)> listener(
        dds_create_listener(record.get()), &dds_delete_listener);
    dds_lset_data_available(listener.get(), &DdsServiceTransport::on_reply);
    dds_lset_subscription_matched(listener.get(),
                                  [](dds_entity_t entity, const dds_subscription_matched_status_t,
                                     void* arg) { on_match(entity, arg); });
    dds_lset_publication_matched(
        listener.get(), [](dds_entity_t entity, const dds_publication_matched_status_t, void* arg) {
          on_match(entity, arg);
        });
    const PairedQos qos = paired_qos(client.qos, kClientIdKey, id_text(guid.data(), guid.size()));
    record->requests = dds_create_writer(participant_->participant(), request_topic,
                                         qos.writer.get(), listener.get());
    record->replies = dds_create_reader(participant_->participant(), reply_topic, qos.reader.get(),
                                        listener.get());
    if (record->replies < 0 || record->requests < 0 ||
        dds_get_instance_handle(record->requests, &record->wire_id) != DDS_RETCODE_OK) {
      dds_delete(record->replies);
      dds_delete(record->requests);
      throw std::runtime_error(dds_strretcode(std::min(record->replies, record->requests)));
    }
  } catch (const std::exception& e) {
    error = "cannot call service '" + client.service + "' (" + client.type +
            ") in other processes: " + e.what();
  }
  if (!error.empty()) {
    report_error_(error);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  clients_[guid] = std::move(record);
}

void DdsServiceTransport::client_removed(const ros2_core::ServiceEndpoint&,
                                         const ros2_core::Guid& guid) {
  std::shared_ptr<Client> record;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clients_.find(guid);
    if (it == clients_.end()) {
      return;
    }
    record = std::move(it->second);
    clients_.erase(it);
  }
  dds_delete(record->replies);
  dds_delete(record->requests);
}

bool DdsServiceTransport::send_request(const ros2_core::ServiceEndpoint& client,
                                       const ros2_core::RequestId& id,
                                       const std::shared_ptr<const void>& request) {
  std::shared_ptr<Client> record;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clients_.find(id.writer_guid);
    if (it == clients_.end()) {
      return false;
    }
    record = it->second;
  }
  std::vector<std::uint8_t> sample;
  try {
    sample = with_request_header(ros2_core::serialize(request.get(), *record->request_members),
                                 {record->wire_id, id.sequence_number});
  } catch (const std::exception& e) {
    report_error_("cannot serialize a request to service '" + client.service + "': " + e.what());
    return false;
  }
  return dds_writecdr(record->requests,
                      make_cdr_serdata(record->request_type, std::move(sample))) == DDS_RETCODE_OK;
}

bool DdsServiceTransport::send_reply(const ros2_core::ServiceEndpoint& server,
                                     const ros2_core::RequestId& id,
                                     const std::shared_ptr<const void>& reply) {
  std::shared_ptr<Server> record;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = servers_.find({server.service, server.type});
    if (it == servers_.end()) {
      return false;
    }
    record = it->second;
  }
  std::vector<std::uint8_t> sample;
  try {
    sample = with_request_header(ros2_core::serialize(reply.get(), *record->response_members),
                                 {client_of_guid(id.writer_guid), id.sequence_number});
  } catch (const std::exception& e) {
    report_error_("cannot serialize a reply of service '" + server.service + "': " + e.what());
    return false;
  }
  // Real ROS 2 clients send as soon as they see the request reader; wait (briefly) until the
  // reply can reach them rather than drop it.
  const dds_instance_handle_t request_writer = request_writer_of_guid(id.writer_guid);
  const auto give_up = std::chrono::steady_clock::now() + kReplyReaderWait;
  bool matched = replyReaderMatched(record->requests, record->replies, request_writer);
  while (!matched && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    matched = replyReaderMatched(record->requests, record->replies, request_writer);
  }
  if (!matched) {
    report_error_("the reply of service '" + server.service + "' to request " +
                  std::to_string(id.sequence_number) + " found no reader of its client within " +
                  std::to_string(kReplyReaderWait.count()) + " ms; it is sent, but may be lost");
  }
  return dds_writecdr(record->replies, make_cdr_serdata(record->reply_type, std::move(sample))) ==
         DDS_RETCODE_OK;
}

std::size_t DdsServiceTransport::remote_server_count(const std::string& service,
                                                     const std::string& type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : clients_) {
    const Client& client = *entry.second;
    if (client.service != service || client.type != type) {
      continue;
    }
    // A server answers only when it hears the requests and the client hears its replies.
    dds_publication_matched_status_t requests;
    dds_subscription_matched_status_t replies;
    if (dds_get_publication_matched_status(client.requests, &requests) != DDS_RETCODE_OK ||
        dds_get_subscription_matched_status(client.replies, &replies) != DDS_RETCODE_OK) {
      return 0;
    }
    return std::min(requests.current_count, replies.current_count);
  }
  return 0;
}

void DdsServiceTransport::on_request(dds_entity_t reader, void* arg) {
  const Server& server = *static_cast<const Server*>(arg);
  take_samples(reader, [&](const std::vector<std::uint8_t>& bytes, const dds_sample_info_t& info) {
    try {
      RequestHeader header;
      const std::vector<std::uint8_t> message_bytes = split_request_header(bytes, header);
      std::shared_ptr<void> request = make_message(*server.request_members);
      ros2_core::deserialize(message_bytes, request.get(), *server.request_members);
      if (auto graph = server.graph.lock()) {
        graph->deliver_request_from_transport(
            server.service, server.type,
            {guid_of_request(header.client, info.publication_handle), header.sequence}, request);
      }
    } catch (const std::exception& e) {
      server.report_error("dropped a malformed request to service '" + server.service + "' (" +
                          server.type + "): " + e.what());
    }
  });
}

void DdsServiceTransport::on_reply(dds_entity_t reader, void* arg) {
  const Client& client = *static_cast<const Client*>(arg);
  take_samples(reader, [&](const std::vector<std::uint8_t>& bytes, const dds_sample_info_t&) {
    try {
      RequestHeader header;
      const std::vector<std::uint8_t> message_bytes = split_request_header(bytes, header);
      if (header.client != client.wire_id) {
        return;  // the reply to another client of the same service
      }
      std::shared_ptr<void> reply = make_message(*client.response_members);
      ros2_core::deserialize(message_bytes, reply.get(), *client.response_members);
      if (auto graph = client.graph.lock()) {
        graph->deliver_reply_from_transport({client.guid, header.sequence}, reply);
      }
    } catch (const std::exception& e) {
      client.report_error("dropped a malformed reply from service '" + client.service + "' (" +
                          client.type + "): " + e.what());
    }
  });
}

void DdsServiceTransport::on_match(dds_entity_t, void* arg) {
  const Client& client = *static_cast<const Client*>(arg);
  if (auto graph = client.graph.lock()) {
    graph->remote_servers_changed();
  }
}

}  // namespace ros2_dds
