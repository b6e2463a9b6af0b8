#include "bag_io/bag_error.hpp"

#include <fmt/format.h>

namespace bag_io {

BagError::BagError(const std::string& file, const std::string& what)
    : std::runtime_error(fmt::format("{}: {}", file, what)), file_(file) {}

BagError::BagError(const std::string& file, std::uint64_t offset, const std::string& what)
    : std::runtime_error(fmt::format("{}: at byte {}: {}", file, offset, what)),
      file_(file),
      offset_(offset) {}

}  // namespace bag_io
