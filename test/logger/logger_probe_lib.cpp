#include "logger.hpp"

// Exported on purpose: the library is built with hidden visibility, as a product library might be,
// and the logger must still be shared with the program.
extern "C" __attribute__((visibility("default"))) void probe_library_log(int value) {
  LOG_INFO("from library {}", value);
}
