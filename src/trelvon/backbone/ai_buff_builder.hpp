// Builds the engine buffers the backbone owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ai_engine/ai_buff.hpp"

namespace lidar_perception {
namespace trelvon {

// Bytes per element by type code: 0 -> 1, 1 -> 2, 2 -> 4, 3 -> 4, 4 -> 8, any other -> 4.
std::size_t BackboneElementSize(int type);

// A buffer of `format`, `shape` and `type` with a zero-filled block of product(shape) (1 for an
// empty shape) x element size bytes. Throws std::invalid_argument for a negative extent.
norvel::alg::common::AIBuff MakeAIBuff(int format, const std::vector<int64_t>& shape, int type);

}  // namespace trelvon
}  // namespace lidar_perception
