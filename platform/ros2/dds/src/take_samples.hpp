// Draining a reader of the byte sertype, as its data-available listener does.
#pragma once

#include <cstdint>
#include <vector>

#include <dds/dds.h>

#include "ros2_dds/cdr_sertype.hpp"

namespace ros2_dds {

// Takes every sample `reader` holds, a batch at a time, and hands the CDR bytes of each one with
// data, and its sample info, to `handle`; key-only samples (a writer that went) are skipped.
template <typename Handle>
void take_samples(dds_entity_t reader, Handle&& handle) {
  constexpr int kBatch = 16;
  ddsi_serdata* samples[kBatch];
  dds_sample_info_t infos[kBatch];
  for (;;) {
    const int taken = dds_takecdr(reader, samples, kBatch, infos, DDS_ANY_STATE);
    if (taken <= 0) {
      return;
    }
    for (int i = 0; i < taken; ++i) {
      const std::vector<std::uint8_t>* bytes = cdr_bytes(samples[i]);
      if (infos[i].valid_data && bytes != nullptr) {
        handle(*bytes, infos[i]);
      }
      ddsi_serdata_unref(samples[i]);
    }
  }
}

}  // namespace ros2_dds
