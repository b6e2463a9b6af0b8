#include "ai_buff_builder.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <memory>
#include <stdexcept>

namespace lidar_perception {
namespace trelvon {

std::size_t BackboneElementSize(int type) {
  switch (type) {
    case 0:
      return 1;
    case 1:
      return 2;
    case 4:
      return 8;
    default:
      return 4;
  }
}

norvel::alg::common::AIBuff MakeAIBuff(int format, const std::vector<int64_t>& shape, int type) {
  std::size_t elements = 1;
  for (const int64_t extent : shape) {
    if (extent < 0) {
      throw std::invalid_argument(
          fmt::format("buffer shape [{}] has a negative extent", fmt::join(shape, ", ")));
    }
    elements *= static_cast<std::size_t>(extent);
  }
  norvel::alg::common::AIBuff buffer;
  buffer.format = format;
  buffer.shape.assign(shape.begin(), shape.end());
  buffer.type = type;
  buffer.data = std::make_shared<std::vector<uint8_t>>(elements * BackboneElementSize(type), 0);
  return buffer;
}

}  // namespace trelvon
}  // namespace lidar_perception
