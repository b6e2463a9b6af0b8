// A DDS type whose samples are finished CDR byte strings. The ROS 2 layer serialises and parses
// messages itself (driven by the introspection type support), so Cyclone DDS only ever moves bytes:
// one sertype serves every ROS message type, told apart by its DDS type name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>

namespace ros2_dds {

// The sample type of the sertype for dds_write/dds_take; the transport itself writes and takes
// serdata directly (dds_writecdr, dds_takecdr) and never copies through it.
struct CdrSample {
  std::vector<std::uint8_t> bytes;  // encapsulation header included
};

// Creates a keyless sertype named `dds_type_name` ("sensor_msgs::msg::dds_::PointCloud2_").
// Ownership passes to Cyclone with dds_create_topic_sertype, which may hand back an equal
// sertype registered earlier; until then the caller frees it with ddsi_sertype_unref.
ddsi_sertype* create_cdr_sertype(const std::string& dds_type_name);

// A serdata of `type` (a sertype made by create_cdr_sertype) holding `bytes`, zero-padded to a
// multiple of 4 bytes, with one reference for the caller (dds_writecdr consumes it).
ddsi_serdata* make_cdr_serdata(const ddsi_sertype* type, std::vector<std::uint8_t>&& bytes);

// The bytes of a serdata of our sertype, or nullptr for one of another kind (a key-only sample).
const std::vector<std::uint8_t>* cdr_bytes(const ddsi_serdata* serdata);

// Whether `type` was made by create_cdr_sertype.
bool is_cdr_sertype(const ddsi_sertype* type);

}  // namespace ros2_dds
