// What an executor runs: subscriptions and timers.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

namespace rclcpp {

// Something with work an executor can claim and run. `take_ready` claims one unit of work
// (a message, a due timer tick) atomically, so two executor threads never run the same
// unit; `execute` runs it, possibly concurrently with other units of the same entity when its
// callback group is reentrant.
class Executable {
 public:
  using SteadyTime = std::chrono::steady_clock::time_point;
  virtual ~Executable() = default;
  // Returns true and fills `work` (may stay empty for timers) when a unit was claimed.
  virtual bool take_ready(SteadyTime now, std::shared_ptr<const void>& work) = 0;
  virtual void execute(const std::shared_ptr<const void>& work) = 0;
  // The next time this entity becomes ready by itself (timers); empty otherwise.
  virtual std::optional<SteadyTime> next_deadline() const { return std::nullopt; }
};

}  // namespace rclcpp
