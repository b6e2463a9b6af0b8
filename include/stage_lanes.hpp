// Runs the independent jobs of one pipeline stage on several threads at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lidar_perception {

// The per-camera stages of a frame (split, shape, cone and ground removal, clustering, the
// dynamic split, publication) touch only their own camera's clouds and objects, so the cameras of
// one stage can run side by side. StageLanes owns `helpers` worker threads; run() hands out the job
// indices of one stage (its cameras) to them and to the calling thread, and returns when every job
// is done, so the stages stay in their order and each one's wall time is still its own. Stages that
// stream the whole scan through memory once (conversion, region filter) gained nothing from a
// second lane when measured, and stay on the calling thread.
//
// A job gets its index and the lane that runs it: 0 for the calling thread, 1..helpers for the
// workers. Objects with scratch state (a ground remover, a clusterer) are kept once per lane,
// never shared by two jobs at a time. An exception thrown by a job ends nothing early: the other
// jobs still run, and run() rethrows the first one afterwards.
//
// run() is called from one thread at a time (the frame pipeline). Between stages an idle worker
// watches for the next one for a few tens of microseconds (the stages of a frame follow each
// other closely), then sleeps on a condition variable; the destructor wakes and joins them.
class StageLanes {
 public:
  using Job = std::function<void(std::size_t index, std::size_t lane)>;

  explicit StageLanes(std::size_t helpers);
  ~StageLanes();

  StageLanes(const StageLanes&) = delete;
  StageLanes& operator=(const StageLanes&) = delete;

  // Lanes in all: the calling thread and the helpers.
  std::size_t lanes() const { return workers_.size() + 1; }

  // Runs job(index, lane) once for each index in [0, jobs).
  void run(std::size_t jobs, const Job& job);

  // Helpers worth starting for stages of at most `jobs` jobs on this machine: one lane per core,
  // at most one per job, the calling thread being one of them.
  static std::size_t helpersFor(std::size_t jobs);

 private:
  void workerLoop(std::size_t lane);
  // Takes and runs jobs of the current stage until none is left.
  void drain(std::size_t lane);

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable work_done_;
  // Guarded by mutex_: the current stage's job and size, the next index to hand out, the jobs
  // finished, and the first exception thrown.
  const Job* job_{nullptr};
  std::size_t jobs_{0};
  std::size_t next_index_{0};
  std::size_t finished_{0};
  std::exception_ptr failure_;
  bool stopping_{false};
  // The stage's number, bumped per run under mutex_; idle helpers also watch it without the lock.
  std::atomic<std::uint64_t> generation_{0};
  std::vector<std::thread> workers_;
};

}  // namespace lidar_perception
