// The DDS domains this process takes part in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <dds/dds.h>

namespace ros2_dds {

// Where and how the process meets other ROS 2 processes: ROS_DOMAIN_ID and ROS_LOCALHOST_ONLY.
struct DomainSettings {
  std::uint32_t domain_id{0};
  bool localhost_only{false};
};

// Reads ROS_DOMAIN_ID (unset or empty: 0) and ROS_LOCALHOST_ONLY ("1": only this machine).
// Throws std::invalid_argument naming the variable for a domain id that is not a number in
// 0..232 (the ids whose ports DDS can compute).
DomainSettings domain_settings_from_environment();

// One Cyclone DDS domain, configured for ROS 2 (localhost-only when asked, then CYCLONEDDS_URI
// as Cyclone reads it itself) and for large messages. Shared by every context of the process on
// the same domain id; deleted with its last user.
class DdsDomain {
 public:
  // Throws std::runtime_error when Cyclone refuses the domain, or when the domain is already in
  // use in this process with another localhost-only setting.
  static std::shared_ptr<DdsDomain> acquire(const DomainSettings& settings);
  ~DdsDomain();
  DdsDomain(const DdsDomain&) = delete;
  DdsDomain& operator=(const DdsDomain&) = delete;

  const DomainSettings& settings() const { return settings_; }

 private:
  DdsDomain(const DomainSettings& settings, dds_entity_t handle);

  const DomainSettings settings_;
  const dds_entity_t handle_;
};

}  // namespace ros2_dds
