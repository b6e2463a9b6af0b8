// ROS 2 quality of service as DDS QoS, the way ROS 2's DDS middlewares set it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <dds/dds.h>

#include "ros2_core/qos_profile.hpp"

namespace ros2_dds {

using DdsQos = std::unique_ptr<dds_qos_t, decltype(&dds_delete_qos)>;

// Reliability (reliable writers block without limit when readers fall behind, as ROS 2's do),
// durability (transient-local writers keep their history for late joiners), history kind and
// depth. Readers made with `for_reader` ignore writers of their own participant.
DdsQos to_dds_qos(const ros2_core::QosProfile& profile, bool for_reader);

// User data as ROS 2's Cyclone middleware writes it: "key=value;" pairs. The value of `key` in
// the user data of `qos`, or nullopt when `qos` is null or has no such pair.
std::optional<std::string> user_data_value(const dds_qos_t* qos, const std::string& key);
// Makes the user data of `qos` the one pair "key=value;".
void set_user_data_pair(dds_qos_t* qos, const std::string& key, const std::string& value);

}  // namespace ros2_dds
