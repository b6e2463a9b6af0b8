#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lidar_demo/run_summary.hpp"
#include "lidar_demo/stage_timings.hpp"

namespace {

TEST(StageTimings, ReadsTheNodesTimingLinesOnly) {
  std::string stage;
  double ms = 0.0;
  ASSERT_TRUE(lidar_demo::parseTimingLine("  7 [info] remove ground time: 1.25 ms.", stage, ms));
  EXPECT_EQ(stage, "remove ground");
  EXPECT_DOUBLE_EQ(ms, 1.25);
  ASSERT_TRUE(lidar_demo::parseTimingLine("cluster time: 0.5ms.", stage, ms));
  EXPECT_EQ(stage, "cluster");
  EXPECT_DOUBLE_EQ(ms, 0.5);
  EXPECT_FALSE(lidar_demo::parseTimingLine("tf_buf_cache_time = 10", stage, ms));
  EXPECT_FALSE(lidar_demo::parseTimingLine("remove ground time: slow ms.", stage, ms));
  EXPECT_FALSE(lidar_demo::parseTimingLine("remove ground time: 3 s.", stage, ms));
  EXPECT_FALSE(lidar_demo::parseTimingLine("time: 3 ms.", stage, ms));

  lidar_demo::StageTimings timings;
  for (int i = 100; i >= 1; --i) {
    timings.add("b", i);
  }
  timings.addLine("a time: 4 ms.");
  const auto stats = timings.statistics();
  ASSERT_EQ(stats.size(), 2U);
  EXPECT_EQ(stats[0].stage, "b") << "stages keep the order they were first seen in";
  EXPECT_EQ(stats[0].samples, 100U);
  EXPECT_DOUBLE_EQ(stats[0].median_ms, 50.0);
  EXPECT_DOUBLE_EQ(stats[0].p95_ms, 95.0);
  EXPECT_DOUBLE_EQ(stats[1].median_ms, 4.0);
}

TEST(RunSummary, CountsDropsLatencyAndTruth) {
  std::vector<lidar_demo::FrameRecord> records(4);
  const auto t0 = std::chrono::steady_clock::now();
  for (std::size_t k = 0; k < records.size(); ++k) {
    records[k].index = static_cast<std::uint32_t>(k);
    records[k].played_at = t0;
  }
  // Scan 2 never came out.
  for (std::size_t k : {0U, 1U, 3U}) {
    records[k].outputs = 2;
    records[k].last_output_at = t0 + std::chrono::milliseconds(10 * (k + 1));
    records[k].dynamic_clusters = 1;
  }
  auto truth = std::make_shared<lidar_sim::SimulatedFrame>();
  records[0].truth = truth;
  records[0].on_dynamic.moving = 90;
  records[0].on_dynamic.structure = 10;
  records[0].on_static.structure = 300;
  records[0].on_static.moving = 30;
  const auto summary = lidar_demo::summarize(records, {});
  EXPECT_EQ(summary.played, 4U);
  EXPECT_EQ(summary.processed, 3U);
  EXPECT_EQ(summary.dropped, 1U);
  EXPECT_NEAR(summary.latency_median_ms, 20.0, 1e-6);
  EXPECT_NEAR(summary.latency_p95_ms, 40.0, 1e-6);
  EXPECT_DOUBLE_EQ(summary.dynamic_clusters_per_scan, 1.0);
  ASSERT_TRUE(summary.quality);
  EXPECT_EQ(summary.frames_with_truth, 1U);
  EXPECT_DOUBLE_EQ(summary.quality->dynamic_precision, 0.9);
  EXPECT_DOUBLE_EQ(summary.quality->static_precision, 300.0 / 330.0);
  EXPECT_DOUBLE_EQ(summary.quality->moving_recall, 0.75);
  const std::string text = lidar_demo::formatSummary(summary);
  EXPECT_NE(text.find("4 played, 3 processed, 1 dropped"), std::string::npos) << text;
}

}  // namespace
