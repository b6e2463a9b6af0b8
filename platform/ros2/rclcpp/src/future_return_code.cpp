#include "rclcpp/future_return_code.hpp"

#include <type_traits>

namespace rclcpp {

std::string to_string(const FutureReturnCode& future_return_code) {
  const auto value = static_cast<std::underlying_type_t<FutureReturnCode>>(future_return_code);
  std::string prefix = "Unknown enum value (";
  switch (future_return_code) {
    case FutureReturnCode::SUCCESS:
      prefix = "SUCCESS (";
      break;
    case FutureReturnCode::INTERRUPTED:
      prefix = "INTERRUPTED (";
      break;
    case FutureReturnCode::TIMEOUT:
      prefix = "TIMEOUT (";
      break;
  }
  return prefix + std::to_string(value) + ")";
}

std::ostream& operator<<(std::ostream& os, const FutureReturnCode& future_return_code) {
  return os << to_string(future_return_code);
}

}  // namespace rclcpp
