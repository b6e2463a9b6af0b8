// Element types and layout codes of the inference engine's buffers.
//
// The integer values are the ones configuration files carry; they are part of the file format and
// never change. `ElementSize` gives the bytes of one element for every known type.
#pragma once

#include <cstddef>
#include <string>

#include "ai_engine/export.hpp"

namespace norvel {
namespace alg {
namespace common {

// Element type of one buffer.
enum AIDataType : int {
  kAIUint8 = 0,
  kAIFloat16 = 1,
  kAIFloat32 = 2,
  kAIInt32 = 3,
  kAIInt64 = 4,
};

// How a buffer's shape is to be read. The engine hands every buffer to the model row-major in its
// configured shape; the code records the meaning of the axes and is checked, not interpreted.
enum AIDataFormat : int {
  kAIFormatNCHW = 0,
  kAIFormatNHWC = 1,
  kAIFormatAny = 2,
};

// True for the codes listed in AIDataType.
CORVANTA_AI_ENGINE_EXPORT bool IsKnownDataType(int type);

// True for the codes listed in AIDataFormat.
CORVANTA_AI_ENGINE_EXPORT bool IsKnownDataFormat(int format);

// Bytes per element of a known type; 0 for an unknown code.
CORVANTA_AI_ENGINE_EXPORT std::size_t ElementSize(int type);

// "float32", "int64", ... for messages; "unknown(<code>)" otherwise.
CORVANTA_AI_ENGINE_EXPORT std::string DataTypeName(int type);

}  // namespace common
}  // namespace alg
}  // namespace norvel
