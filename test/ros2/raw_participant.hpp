// A bare Cyclone DDS participant for tests that write or read samples of their own making, as
// another vendor's process would, beside the ROS 2 layer's own participants; deleted with
// everything it made.
#pragma once

#include <cstdint>

#include <dds/dds.h>

struct RawParticipant {
  explicit RawParticipant(std::uint32_t domain)
      : handle(dds_create_participant(domain, nullptr, nullptr)) {}
  ~RawParticipant() {
    if (handle > 0) {
      dds_delete(handle);
    }
  }
  RawParticipant(const RawParticipant&) = delete;
  RawParticipant& operator=(const RawParticipant&) = delete;
  const dds_entity_t handle;
};
