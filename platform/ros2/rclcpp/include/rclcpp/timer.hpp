// Periodic timers run by executors.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/executable.hpp"

namespace rclcpp {

// Fires every `period` on the steady clock while not cancelled. A tick that is due is
// claimed once; ticks missed while the executor was busy are skipped, not queued up.
// Thread-safe.
class TimerBase : public Executable {
 public:
  using SharedPtr = std::shared_ptr<TimerBase>;

  TimerBase(Clock::SharedPtr clock, std::chrono::nanoseconds period);

  void cancel();
  bool is_canceled() const { return canceled_.load(); }
  // Restarts the period from now and un-cancels.
  void reset();
  bool is_ready() const;
  std::chrono::nanoseconds time_until_trigger() const;
  Clock::SharedPtr get_clock() const { return clock_; }
  // Executors call this; it keeps the timer's group woken on reset.
  void set_callback_group(const CallbackGroup::SharedPtr& group) { group_ = group; }

  bool take_ready(SteadyTime now, std::shared_ptr<const void>& work) override;
  std::optional<SteadyTime> next_deadline() const override;
  void execute(const std::shared_ptr<const void>&) override { execute_callback(); }
  virtual void execute_callback() = 0;

 private:
  const Clock::SharedPtr clock_;
  const std::chrono::nanoseconds period_;
  std::atomic<bool> canceled_{false};
  mutable std::mutex mutex_;
  SteadyTime next_call_;  // guarded by mutex_
  CallbackGroup::WeakPtr group_;
};

// A timer with a callback taking nothing or the timer itself.
template <typename FunctorT>
class GenericTimer : public TimerBase {
 public:
  using SharedPtr = std::shared_ptr<GenericTimer>;
  GenericTimer(Clock::SharedPtr clock, std::chrono::nanoseconds period, FunctorT&& callback)
      : TimerBase(std::move(clock), period), callback_(std::forward<FunctorT>(callback)) {}

  void execute_callback() override {
    if constexpr (std::is_invocable<FunctorT&, TimerBase&>::value) {
      callback_(*this);
    } else {
      callback_();
    }
  }

 private:
  FunctorT callback_;
};

template <typename FunctorT>
class WallTimer : public GenericTimer<FunctorT> {
 public:
  using SharedPtr = std::shared_ptr<WallTimer>;
  WallTimer(std::chrono::nanoseconds period, FunctorT&& callback)
      : GenericTimer<FunctorT>(std::make_shared<Clock>(RCL_STEADY_TIME), period,
                               std::forward<FunctorT>(callback)) {}
};

}  // namespace rclcpp
