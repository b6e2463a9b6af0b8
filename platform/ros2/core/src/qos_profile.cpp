#include "ros2_core/qos_profile.hpp"

namespace ros2_core {

std::string incompatible_policy(const QosProfile& offered, const QosProfile& requested) {
  if (offered.reliability == Reliability::BestEffort &&
      requested.reliability == Reliability::Reliable) {
    return "RELIABILITY_QOS_POLICY";
  }
  if (offered.durability == Durability::Volatile &&
      requested.durability == Durability::TransientLocal) {
    return "DURABILITY_QOS_POLICY";
  }
  return {};
}

std::size_t queue_limit(const QosProfile& profile) {
  if (profile.history == History::KeepAll) {
    return 0;
  }
  // A keep-last depth of 0 still holds the latest message, as DDS keeps at least one.
  return profile.depth == 0 ? 1 : profile.depth;
}

}  // namespace ros2_core
