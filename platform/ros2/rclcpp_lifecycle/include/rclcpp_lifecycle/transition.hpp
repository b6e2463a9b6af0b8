// A lifecycle transition: id and label.
#pragma once

#include <cstdint>
#include <string>

namespace rclcpp_lifecycle {

class Transition {
 public:
  Transition(uint8_t id, const std::string& label = "") : id_(id), label_(label) {}
  virtual ~Transition() = default;
  uint8_t id() const { return id_; }
  std::string label() const { return label_; }

 private:
  uint8_t id_;
  std::string label_;
};

}  // namespace rclcpp_lifecycle
