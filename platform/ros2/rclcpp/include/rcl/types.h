// Type names of the C client layer that rclcpp's public API exposes.
#pragma once

#include "rcutils/allocator.h"
#include "rcutils/types/uint8_array.h"

typedef rcutils_uint8_array_t rcl_serialized_message_t;
typedef rcutils_allocator_t rcl_allocator_t;
