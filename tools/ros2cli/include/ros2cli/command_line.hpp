// The arguments of one verb: positionals, flags and options with a value.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ros2cli {

// A mistake in how the program was called; the program prints it with the usage and exits with 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CommandLine {
 public:
  // `valued` are the options followed by a value ("--window", "-r"), `flags` those without.
  // "--opt=value" is accepted too; "--" ends the options. Throws UsageError for an unknown
  // option or a missing value.
  CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valued,
              const std::set<std::string>& flags);

  const std::vector<std::string>& positional() const { return positional_; }
  bool has(const std::string& flag) const { return present_.count(flag) != 0; }
  std::optional<std::string> value(const std::string& option) const;
  // The option's value as a number; throws UsageError naming the option for another text or a
  // value below `minimum`.
  std::optional<double> number(const std::string& option, double minimum) const;

 private:
  std::vector<std::string> positional_;
  std::set<std::string> present_;
  std::map<std::string, std::string> values_;
};

}  // namespace ros2cli
