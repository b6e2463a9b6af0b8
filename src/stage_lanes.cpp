#include "stage_lanes.hpp"

#include <algorithm>
#include <chrono>

namespace lidar_perception {

namespace {

// How long an idle helper watches for the next stage before it sleeps.
constexpr std::chrono::microseconds kWatchBeforeSleep{50};

}  // namespace

StageLanes::StageLanes(std::size_t helpers) {
  workers_.reserve(helpers);
  for (std::size_t lane = 1; lane <= helpers; ++lane) {
    workers_.emplace_back([this, lane] { workerLoop(lane); });
  }
}

StageLanes::~StageLanes() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) {
    worker.join();
  }
}

std::size_t StageLanes::helpersFor(std::size_t jobs) {
  // hardware_concurrency may report 0 when it cannot tell: then no helper.
  const std::size_t cores = std::max<std::size_t>(1, std::thread::hardware_concurrency());
  return std::min(cores, std::max<std::size_t>(jobs, 1)) - 1;
}

void StageLanes::run(std::size_t jobs, const Job& job) {
  if (jobs == 0) {
    return;
  }
  if (workers_.empty() || jobs == 1) {
    // Nothing to share: no hand-over, no locking.
    std::exception_ptr failure;
    for (std::size_t index = 0; index < jobs; ++index) {
      try {
        job(index, 0);
      } catch (...) {
        if (!failure) {
          failure = std::current_exception();
        }
      }
    }
    if (failure) {
      std::rethrow_exception(failure);
    }
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &job;
    jobs_ = jobs;
    next_index_ = 0;
    finished_ = 0;
    failure_ = nullptr;
    ++generation_;
  }
  work_ready_.notify_all();
  drain(0);
  std::exception_ptr failure;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    work_done_.wait(lock, [this] { return finished_ == jobs_; });
    // No worker touches the job once every index is finished; clearing it keeps a late waker
    // from finding a stale one.
    job_ = nullptr;
    failure = failure_;
    failure_ = nullptr;
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void StageLanes::drain(std::size_t lane) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (job_ != nullptr && next_index_ < jobs_) {
    const std::size_t index = next_index_++;
    const Job& job = *job_;
    lock.unlock();
    std::exception_ptr failure;
    try {
      job(index, lane);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure && !failure_) {
      failure_ = failure;
    }
    if (++finished_ == jobs_) {
      work_done_.notify_one();
    }
  }
}

void StageLanes::workerLoop(std::size_t lane) {
  std::uint64_t seen = 0;
  for (;;) {
    // The stages of a frame follow each other within microseconds, and waking a sleeping thread
    // takes tens of them: watch for the next stage for a short while before going to sleep.
    const auto watch_until = std::chrono::steady_clock::now() + kWatchBeforeSleep;
    while (generation_.load() == seen && std::chrono::steady_clock::now() < watch_until) {
      std::this_thread::yield();
    }
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_ready_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) {
        return;
      }
      seen = generation_;
    }
    drain(lane);
  }
}

}  // namespace lidar_perception
