#include "dds_qos.hpp"

#include <algorithm>
#include <cstdint>

namespace ros2_dds {

DdsQos to_dds_qos(const ros2_core::QosProfile& profile, bool for_reader) {
  DdsQos qos(dds_create_qos(), &dds_delete_qos);
  const auto depth = static_cast<std::int32_t>(
      std::min<std::size_t>(std::max<std::size_t>(profile.depth, 1), INT32_MAX));
  const bool keep_all = profile.history == ros2_core::History::KeepAll;
  if (keep_all) {
    dds_qset_history(qos.get(), DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
  } else {
    dds_qset_history(qos.get(), DDS_HISTORY_KEEP_LAST, depth);
  }
  if (profile.reliability == ros2_core::Reliability::Reliable) {
    dds_qset_reliability(qos.get(), DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  } else {
    dds_qset_reliability(qos.get(), DDS_RELIABILITY_BEST_EFFORT, 0);
  }
  if (profile.durability == ros2_core::Durability::TransientLocal) {
    dds_qset_durability(qos.get(), DDS_DURABILITY_TRANSIENT_LOCAL);
    dds_qset_durability_service(qos.get(), 0,
                                keep_all ? DDS_HISTORY_KEEP_ALL : DDS_HISTORY_KEEP_LAST,
                                keep_all ? DDS_LENGTH_UNLIMITED : depth, DDS_LENGTH_UNLIMITED,
                                DDS_LENGTH_UNLIMITED, DDS_LENGTH_UNLIMITED);
  } else {
    dds_qset_durability(qos.get(), DDS_DURABILITY_VOLATILE);
  }
  if (for_reader) {
    dds_qset_ignorelocal(qos.get(), DDS_IGNORELOCAL_PARTICIPANT);
  } else {
    // Keyless topics have one instance; disposing it when a writer goes would only confuse readers.
    dds_qset_writer_data_lifecycle(qos.get(), false);
  }
  return qos;
}

std::optional<std::string> user_data_value(const dds_qos_t* qos, const std::string& key) {
  void* data = nullptr;
  std::size_t size = 0;
  if (qos == nullptr || !dds_qget_userdata(qos, &data, &size) || data == nullptr) {
    return std::nullopt;
  }
  const std::string text(static_cast<const char*>(data), size);
  dds_free(data);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::size_t equals = text.find('=', start);
    if (equals < end && text.compare(start, equals - start, key) == 0) {
      return text.substr(equals + 1, end - equals - 1);
    }
    start = end + 1;
  }
  return std::nullopt;
}

void set_user_data_pair(dds_qos_t* qos, const std::string& key, const std::string& value) {
  const std::string text = key + "=" + value + ";";
  dds_qset_userdata(qos, text.data(), text.size());
}

}  // namespace ros2_dds
