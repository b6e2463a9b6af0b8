// A byte buffer with its length and capacity, as the C client layers pass serialized messages.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "rcutils/allocator.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rcutils_uint8_array_s {
  uint8_t* buffer;
  size_t buffer_length;    // bytes in use
  size_t buffer_capacity;  // bytes allocated
  rcutils_allocator_t allocator;
} rcutils_uint8_array_t;

#ifdef __cplusplus
}
#endif
