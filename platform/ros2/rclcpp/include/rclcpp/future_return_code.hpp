// The result of spinning until a future completes.
#pragma once

#include <ostream>
#include <string>

namespace rclcpp {

enum class FutureReturnCode { SUCCESS, INTERRUPTED, TIMEOUT };

std::ostream& operator<<(std::ostream& os, const FutureReturnCode& future_return_code);
// "SUCCESS (0)", "INTERRUPTED (1)", "TIMEOUT (2)".
std::string to_string(const FutureReturnCode& future_return_code);

}  // namespace rclcpp
