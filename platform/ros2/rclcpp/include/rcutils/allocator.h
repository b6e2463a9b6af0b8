// The allocator record of the C client layers; only the default heap allocator exists here.
#pragma once

#include <stddef.h>
#include <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rcutils_allocator_s {
  void* (*allocate)(size_t size, void* state);
  void (*deallocate)(void* pointer, void* state);
  void* (*reallocate)(void* pointer, size_t size, void* state);
  void* (*zero_allocate)(size_t number_of_elements, size_t size_of_element, void* state);
  void* state;
} rcutils_allocator_t;

static inline void* rcutils_default_allocate(size_t size, void* state) {
  (void)state;
  return malloc(size);
}
static inline void rcutils_default_deallocate(void* pointer, void* state) {
  (void)state;
  free(pointer);
}
static inline void* rcutils_default_reallocate(void* pointer, size_t size, void* state) {
  (void)state;
  return realloc(pointer, size);
}
static inline void* rcutils_default_zero_allocate(size_t count, size_t size, void* state) {
  (void)state;
  return calloc(count, size);
}

// The allocator backed by malloc/free.
static inline rcutils_allocator_t rcutils_get_default_allocator(void) {
  rcutils_allocator_t allocator = {rcutils_default_allocate, rcutils_default_deallocate,
                                   rcutils_default_reallocate, rcutils_default_zero_allocate, NULL};
  return allocator;
}

static inline int rcutils_allocator_is_valid(const rcutils_allocator_t* allocator) {
  return allocator != NULL && allocator->allocate != NULL && allocator->deallocate != NULL &&
         allocator->reallocate != NULL && allocator->zero_allocate != NULL;
}

#ifdef __cplusplus
}
#endif
