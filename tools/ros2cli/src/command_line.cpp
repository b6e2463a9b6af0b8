#include "ros2cli/command_line.hpp"

#include <cctype>
#include <cmath>

namespace ros2cli {

CommandLine::CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valued,
                         const std::set<std::string>& flags) {
  bool options_over = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A lone "-" and negative numbers are values, not options.
    const std::string name = arg.substr(0, arg.find('='));
    const bool known = valued.count(name) != 0 || flags.count(arg) != 0;
    const bool looks_like_option =
        known || (arg.size() > 1 && arg[0] == '-' &&
                  !(std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.'));
    if (options_over || !looks_like_option) {
      positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_over = true;
      continue;
    }
    const auto equals = arg.find('=');
    if (valued.count(name) != 0) {
      if (equals != std::string::npos) {
        values_[name] = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        values_[name] = args[++i];
      } else {
        throw UsageError("argument " + name + ": expected one argument");
      }
      present_.insert(name);
    } else if (flags.count(arg) != 0) {
      present_.insert(arg);
    } else {
      throw UsageError("unrecognized arguments: " + arg);
    }
  }
}

std::optional<std::string> CommandLine::value(const std::string& option) const {
  const auto it = values_.find(option);
  if (it == values_.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<double> CommandLine::number(const std::string& option, double minimum) const {
  const auto text = value(option);
  if (!text) {
    return std::nullopt;
  }
  std::size_t used = 0;
  double result = 0.0;
  try {
    result = std::stod(*text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text->size() || text->empty() || !std::isfinite(result)) {
    throw UsageError("argument " + option + ": invalid number: '" + *text + "'");
  }
  if (result < minimum) {
    throw UsageError("argument " + option + ": must be at least " + std::to_string(minimum) +
                     ", got " + *text);
  }
  return result;
}

}  // namespace ros2cli
