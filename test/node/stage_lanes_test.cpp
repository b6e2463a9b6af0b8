// StageLanes: every job of a stage runs once, on a lane of its own, with failures passed on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "stage_lanes.hpp"

namespace lidar_perception {
namespace {

TEST(StageLanes, EveryJobRunsOnceInEveryStageAndNoLaneRunsTwoJobsAtOnce) {
  StageLanes lanes(3);
  ASSERT_EQ(lanes.lanes(), 4u);
  std::vector<std::atomic<int>> busy(lanes.lanes());
  for (int stage = 0; stage < 200; ++stage) {
    const std::size_t jobs = 1 + static_cast<std::size_t>(stage % 7);
    std::vector<std::atomic<int>> runs(jobs);
    std::atomic<bool> lane_shared{false};
    std::atomic<bool> lane_out_of_range{false};
    lanes.run(jobs, [&](std::size_t index, std::size_t lane) {
      if (lane >= lanes.lanes()) {
        lane_out_of_range = true;
        return;
      }
      if (busy[lane].fetch_add(1) != 0) {
        lane_shared = true;
      }
      runs[index].fetch_add(1);
      busy[lane].fetch_sub(1);
    });
    ASSERT_FALSE(lane_out_of_range) << "stage " << stage;
    ASSERT_FALSE(lane_shared) << "stage " << stage;
    for (std::size_t index = 0; index < jobs; ++index) {
      ASSERT_EQ(runs[index].load(), 1) << "stage " << stage << ", job " << index;
    }
  }
}

TEST(StageLanes, SlowJobsRunSideBySideOnTheHelpers) {
  StageLanes lanes(1);
  std::mutex mutex;
  std::set<std::thread::id> threads;
  std::atomic<int> running{0};
  std::atomic<int> most_running{0};
  lanes.run(4, [&](std::size_t, std::size_t) {
    const int now = ++running;
    int seen = most_running.load();
    while (now > seen && !most_running.compare_exchange_weak(seen, now)) {
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      threads.insert(std::this_thread::get_id());
    }
    // Hold the lane until the other one has joined in (or long past any wake-up delay).
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (most_running.load() < 2 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    --running;
  });
  EXPECT_EQ(threads.size(), 2u);
  EXPECT_EQ(most_running.load(), 2);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 1u) << "the caller is lane 0";
}

TEST(StageLanes, AFailingJobLetsTheOthersFinishAndIsRethrown) {
  for (const std::size_t helpers : {0u, 2u}) {
    StageLanes lanes(helpers);
    std::vector<std::atomic<int>> runs(5);
    EXPECT_THROW(lanes.run(5,
                           [&](std::size_t index, std::size_t) {
                             runs[index].fetch_add(1);
                             if (index == 1 || index == 3) {
                               throw std::runtime_error("job failed");
                             }
                           }),
                 std::runtime_error)
        << helpers << " helpers";
    for (std::size_t index = 0; index < runs.size(); ++index) {
      EXPECT_EQ(runs[index].load(), 1) << helpers << " helpers, job " << index;
    }
    // The lanes stay usable after a failure.
    std::atomic<int> after{0};
    lanes.run(3, [&](std::size_t, std::size_t) { ++after; });
    EXPECT_EQ(after.load(), 3) << helpers << " helpers";
  }
}

TEST(StageLanes, NoJobsRunsNothingAndHelpersNeverExceedCoresOrJobs) {
  StageLanes lanes(2);
  bool ran = false;
  lanes.run(0, [&](std::size_t, std::size_t) { ran = true; });
  EXPECT_FALSE(ran);
  EXPECT_EQ(StageLanes::helpersFor(0), 0u);
  EXPECT_EQ(StageLanes::helpersFor(1), 0u);
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  EXPECT_EQ(StageLanes::helpersFor(64), cores - 1);
  EXPECT_LE(StageLanes::helpersFor(4), 3u);
}

}  // namespace
}  // namespace lidar_perception
