#include "ai_engine/ai_data_type.hpp"

#include <fmt/format.h>

namespace norvel {
namespace alg {
namespace common {

bool IsKnownDataType(int type) {
  return type >= kAIUint8 && type <= kAIInt64;
}

bool IsKnownDataFormat(int format) {
  return format >= kAIFormatNCHW && format <= kAIFormatAny;
}

std::size_t ElementSize(int type) {
  switch (type) {
    case kAIUint8:
      return 1;
    case kAIFloat16:
      return 2;
    case kAIFloat32:
    case kAIInt32:
      return 4;
    case kAIInt64:
      return 8;
    default:
      return 0;
  }
}

std::string DataTypeName(int type) {
  switch (type) {
    case kAIUint8:
      return "uint8";
    case kAIFloat16:
      return "float16";
    case kAIFloat32:
      return "float32";
    case kAIInt32:
      return "int32";
    case kAIInt64:
      return "int64";
    default:
      return fmt::format("unknown({})", type);
  }
}

}  // namespace common
}  // namespace alg
}  // namespace norvel
