// A wake-up signal between producers of work and the threads that wait for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace ros2_core {

// A generation counter with a condition variable. A waiter reads `generation()`, looks for
// work, and if it finds none calls `wait_for_change` with the value it read: a trigger that
// happened in between is not lost. Thread-safe.
class GuardCondition {
 public:
  using Clock = std::chrono::steady_clock;

  void trigger();
  std::uint64_t generation() const;
  // Blocks until the generation differs from `seen` or `deadline` passes; returns true when
  // it was triggered.
  bool wait_for_change(std::uint64_t seen, Clock::time_point deadline) const;
  // Same without a deadline.
  void wait_for_change(std::uint64_t seen) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::uint64_t generation_{0};  // guarded by mutex_
};

}  // namespace ros2_core
