// Runs one job per virtual camera on several threads at once.
#pragma once

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
// dynamic split) touch only their own camera's clouds and objects, so the cameras of one stage can
// run side by side. CameraLanes owns `helpers` worker threads; run() hands out the camera indices
// of one stage to them and to the calling thread, and returns when every index is done, so the
// stages stay in their order and each one's wall time is still its own.
//
// A job gets its camera index and the lane that runs it: 0 for the calling thread, 1..helpers for
// the workers. Objects with scratch state (a ground remover, a clusterer) are kept once per lane,
// never shared by two jobs at a time. An exception thrown by a job ends nothing early: the other
// indices still run, and run() rethrows the first one afterwards.
//
// run() is called from one thread at a time (the frame pipeline). The workers sleep on a
// condition variable between stages; the destructor wakes and joins them.
class CameraLanes {
 public:
  using Job = std::function<void(std::size_t camera, std::size_t lane)>;

  explicit CameraLanes(std::size_t helpers);
  ~CameraLanes();

  CameraLanes(const CameraLanes&) = delete;
  CameraLanes& operator=(const CameraLanes&) = delete;

  // Lanes in all: the calling thread and the helpers.
  std::size_t lanes() const { return workers_.size() + 1; }

  // Runs job(camera, lane) once for each camera in [0, cameras).
  void run(std::size_t cameras, const Job& job);

  // Helpers worth starting for `cameras` cameras on this machine: one lane per core, at most one
  // per camera, the calling thread being one of them.
  static std::size_t helpersFor(std::size_t cameras);

 private:
  void workerLoop(std::size_t lane);
  // Takes and runs indices of the current stage until none is left.
  void drain(std::size_t lane);

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable work_done_;
  // Guarded by mutex_: the current stage, its generation (bumped per run), the next index to hand
  // out, the indices finished, and the first exception thrown.
  const Job* job_{nullptr};
  std::size_t cameras_{0};
  std::uint64_t generation_{0};
  std::size_t next_camera_{0};
  std::size_t finished_{0};
  std::exception_ptr failure_;
  bool stopping_{false};
  std::vector<std::thread> workers_;
};

}  // namespace lidar_perception
