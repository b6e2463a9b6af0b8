#include "ros2cli/stop_signal.hpp"

#include <pthread.h>

#include <csignal>
#include <ctime>

namespace ros2cli {

struct InterruptSignal::Masks {
  sigset_t watched;
  sigset_t previous;
};

InterruptSignal::InterruptSignal() : masks_(std::make_unique<Masks>()) {
  sigemptyset(&masks_->watched);
  sigaddset(&masks_->watched, SIGINT);
  sigaddset(&masks_->watched, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &masks_->watched, &masks_->previous);
}

InterruptSignal::~InterruptSignal() {
  pthread_sigmask(SIG_SETMASK, &masks_->previous, nullptr);
}

bool InterruptSignal::wait_for(std::chrono::milliseconds timeout) {
  if (received_) {
    return true;
  }
  const auto count = timeout.count() < 0 ? 0 : timeout.count();
  timespec limit{static_cast<time_t>(count / 1000), static_cast<long>((count % 1000) * 1000000)};
  received_ = sigtimedwait(&masks_->watched, nullptr, &limit) > 0;
  return received_;
}

}  // namespace ros2cli
