// One named tensor buffer exchanged with the inference engine.
//
// The caller owns the data block and sizes it once; the engine reads input blocks and writes
// output blocks in place, never resizing them. The block is shared so that a buffer can be copied
// cheaply into and out of the name-keyed maps of `AIEngine::DoInference`.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace norvel {
namespace alg {
namespace common {

struct AIBuff {
  // An AIDataFormat code.
  int format{0};
  // Extent per axis, outermost first; an empty shape is a scalar of one element.
  std::vector<long> shape;
  // An AIDataType code.
  int type{0};
  // Row-major elements of `type`; at least product(shape) × element size bytes.
  std::shared_ptr<std::vector<uint8_t>> data;
};

}  // namespace common
}  // namespace alg
}  // namespace norvel
