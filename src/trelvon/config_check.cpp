#include "config_check.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <climits>
#include <cmath>

#include "logger.hpp"

namespace lidar_perception {
namespace trelvon {

bool CheckPositive(const char* section, const char* key, long value) {
  if (value > 0 && value <= INT_MAX) {
    return true;
  }
  LOG_ERROR("trelvon config: {}.{} must be a positive int, got {}", section, key, value);
  return false;
}

bool CheckCount(const char* section, const char* key, std::size_t size, std::size_t count) {
  if (size >= count) {
    return true;
  }
  LOG_ERROR("trelvon config: {}.{} needs at least {} entries, got {}", section, key, count, size);
  return false;
}

bool CheckRange(const char* section, const char* lower_key, const std::vector<float>& lower,
                const char* upper_key, const std::vector<float>& upper, std::size_t count) {
  if (!CheckCount(section, lower_key, lower.size(), count) ||
      !CheckCount(section, upper_key, upper.size(), count)) {
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!(std::isfinite(lower[i]) && std::isfinite(upper[i]) && lower[i] < upper[i])) {
      LOG_ERROR("trelvon config: {}.{}[{}] = {} must be finite and below {}.{}[{}] = {}", section,
                lower_key, i, lower[i], section, upper_key, i, upper[i]);
      return false;
    }
  }
  return true;
}

bool CheckPositiveValues(const char* section, const char* key, const std::vector<float>& values,
                         std::size_t count) {
  if (!CheckCount(section, key, values.size(), count)) {
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!(std::isfinite(values[i]) && values[i] > 0.0f)) {
      LOG_ERROR("trelvon config: {}.{}[{}] must be finite and > 0, got {}", section, key, i,
                values[i]);
      return false;
    }
  }
  return true;
}

bool CheckIntProduct(const char* section, const char* what, const std::vector<long>& factors) {
  long product = 1;
  for (const long factor : factors) {
    if (factor <= 0 || product > INT_MAX / factor) {
      LOG_ERROR("trelvon config: {} {} = {} does not fit a buffer of at most {} elements", section,
                what, fmt::join(factors, " x "), INT_MAX);
      return false;
    }
    product *= factor;
  }
  return true;
}

}  // namespace trelvon
}  // namespace lidar_perception
