// A lifecycle state: id and label.
#pragma once

#include <cstdint>
#include <string>

namespace rclcpp_lifecycle {

// Value type. Ids are lifecycle_msgs::msg::State's constants; labels are rcl_lifecycle's
// ("unconfigured", "inactive", "active", "finalized", "configuring", ...).
class State {
 public:
  State() : State(0, "unknown") {}
  State(uint8_t id, const std::string& label) : id_(id), label_(label) {}
  virtual ~State() = default;

  uint8_t id() const { return id_; }
  std::string label() const { return label_; }

 private:
  uint8_t id_;
  std::string label_;
};

}  // namespace rclcpp_lifecycle
