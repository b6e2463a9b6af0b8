#include "ros2_dds/dds_domain.hpp"

#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>

namespace ros2_dds {
namespace {

// The largest domain id whose DDS ports stay below 65535 with the standard port mapping.
constexpr unsigned long kMaxDomainId = 232;

// Domains are process-wide in Cyclone DDS, so the record of which ones this process opened
// has to be process-wide too.
std::mutex& domains_mutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::uint32_t, std::weak_ptr<DdsDomain>>& open_domains() {
  static std::map<std::uint32_t, std::weak_ptr<DdsDomain>> domains;
  return domains;
}

std::string domain_configuration(const DomainSettings& settings) {
  std::string config = "<CycloneDDS><Domain><General>";
  if (settings.localhost_only) {
    config += "<Interfaces><NetworkInterface address=\"127.0.0.1\"/></Interfaces>";
  }
  // A point cloud is hundreds of fragments; a receive buffer of several of them rides out the
  // bursts in which they arrive (the kernel caps the request at net.core.rmem_max).
  config +=
      "</General><Internal><SocketReceiveBufferSize max=\"4MiB\"/></Internal>"
      "</Domain></CycloneDDS>";
  // What the user configures through CYCLONEDDS_URI comes last and so wins.
  if (const char* uri = std::getenv("CYCLONEDDS_URI"); uri != nullptr && *uri != '\0') {
    config += ",";
    config += uri;
  }
  return config;
}

}  // namespace

DomainSettings domain_settings_from_environment() {
  DomainSettings settings;
  if (const char* id = std::getenv("ROS_DOMAIN_ID"); id != nullptr && *id != '\0') {
    char* end = nullptr;
    const unsigned long value = std::strtoul(id, &end, 10);
    if (*end != '\0' || id[0] == '-' || value > kMaxDomainId) {
      throw std::invalid_argument(std::string("ROS_DOMAIN_ID '") + id +
                                  "' is not a domain id (a whole number from 0 to 232)");
    }
    settings.domain_id = static_cast<std::uint32_t>(value);
  }
  if (const char* local = std::getenv("ROS_LOCALHOST_ONLY"); local != nullptr) {
    settings.localhost_only = std::string(local) == "1";
  }
  return settings;
}

std::shared_ptr<DdsDomain> DdsDomain::acquire(const DomainSettings& settings) {
  std::lock_guard<std::mutex> lock(domains_mutex());
  auto& domains = open_domains();
  if (auto existing = domains[settings.domain_id].lock()) {
    if (existing->settings().localhost_only != settings.localhost_only) {
      throw std::runtime_error("DDS domain " + std::to_string(settings.domain_id) +
                               " is already open in this process with ROS_LOCALHOST_ONLY " +
                               (existing->settings().localhost_only ? "on" : "off"));
    }
    return existing;
  }
  const dds_entity_t handle =
      dds_create_domain(settings.domain_id, domain_configuration(settings).c_str());
  if (handle < 0) {
    throw std::runtime_error("cannot create DDS domain " + std::to_string(settings.domain_id) +
                             ": " + dds_strretcode(handle));
  }
  std::shared_ptr<DdsDomain> domain(new DdsDomain(settings, handle));
  domains[settings.domain_id] = domain;
  return domain;
}

DdsDomain::DdsDomain(const DomainSettings& settings, dds_entity_t handle)
    : settings_(settings), handle_(handle) {}

DdsDomain::~DdsDomain() {
  // Under the registry lock, so that a context opening the same domain id waits until this one
  // is gone instead of finding it half deleted.
  std::lock_guard<std::mutex> lock(domains_mutex());
  dds_delete(handle_);
}

}  // namespace ros2_dds
