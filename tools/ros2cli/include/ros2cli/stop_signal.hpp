// How a verb that runs until interrupted learns that it should end.
#pragma once

#include <chrono>
#include <memory>

namespace ros2cli {

class StopSignal {
 public:
  virtual ~StopSignal() = default;
  // Waits up to `timeout`; true as soon as the verb should end.
  virtual bool wait_for(std::chrono::milliseconds timeout) = 0;
};

// SIGINT and SIGTERM, blocked in every thread made after construction and waited for with
// sigtimedwait, so that no handler and no global flag is needed. Construct it before any thread
// starts (before DDS); restores the previous mask on destruction.
class InterruptSignal : public StopSignal {
 public:
  InterruptSignal();
  ~InterruptSignal() override;
  InterruptSignal(const InterruptSignal&) = delete;
  InterruptSignal& operator=(const InterruptSignal&) = delete;

  bool wait_for(std::chrono::milliseconds timeout) override;

 private:
  struct Masks;
  std::unique_ptr<Masks> masks_;
  bool received_{false};
};

}  // namespace ros2cli
