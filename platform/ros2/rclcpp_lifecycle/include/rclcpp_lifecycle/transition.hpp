// A lifecycle transition: id and label, and the states it leads from and to.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "rclcpp_lifecycle/state.hpp"

namespace rclcpp_lifecycle {

// Value type. The goal of a primary transition is the transition state it enters
// ("configure" leads from unconfigured to configuring), as rcl_lifecycle describes it.
class Transition {
 public:
  Transition(uint8_t id, const std::string& label = "") : id_(id), label_(label) {}
  Transition(uint8_t id, const std::string& label, State&& start, State&& goal)
      : id_(id), label_(label), start_(std::move(start)), goal_(std::move(goal)) {}
  virtual ~Transition() = default;
  uint8_t id() const { return id_; }
  std::string label() const { return label_; }
  State start_state() const { return start_; }
  State goal_state() const { return goal_; }

 private:
  uint8_t id_;
  std::string label_;
  State start_;
  State goal_;
};

}  // namespace rclcpp_lifecycle
