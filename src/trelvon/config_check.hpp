// Range checks for configuration values read from trelvon.yaml. Each check logs one error line
// naming the section, key and value when it fails, so a factory can simply return empty.
#pragma once

#include <string>
#include <vector>

namespace lidar_perception {
namespace trelvon {

// value > 0 (and, for sizes multiplied into buffer lengths, small enough to stay an int).
bool CheckPositive(const char* section, const char* key, long value);

// `values` holds at least `count` entries.
bool CheckCount(const char* section, const char* key, std::size_t size, std::size_t count);

// lower[i] < upper[i] and both finite, for i < count.
bool CheckRange(const char* section, const char* lower_key, const std::vector<float>& lower,
                const char* upper_key, const std::vector<float>& upper, std::size_t count);

// Every one of the first `count` values finite and > 0.
bool CheckPositiveValues(const char* section, const char* key, const std::vector<float>& values,
                         std::size_t count);

// The product of `factors` fits an int (buffer sizes are reported as int).
bool CheckIntProduct(const char* section, const char* what, const std::vector<long>& factors);

}  // namespace trelvon
}  // namespace lidar_perception
