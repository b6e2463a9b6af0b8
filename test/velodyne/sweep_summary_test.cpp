#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "velodyne/sweep_summary.hpp"

namespace {

TEST(SweepSummary, RangesHeightsAndRings) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Ranges: |(3, 4, 0)| = 5, |(0, 0, -2)| = 2, |(2, 3, 6)| = 7; the NaN point counts apart.
  const std::vector<velodyne::Vlp16Point> points = {{3.0F, 4.0F, 0.0F, 0.0F, 0, 0.0F},
                                                    {0.0F, 0.0F, -2.0F, 0.0F, 15, 0.0F},
                                                    {nan, 1.0F, 1.0F, 0.0F, 9, 0.0F},
                                                    {2.0F, 3.0F, 6.0F, 0.0F, 7, 0.0F}};
  const velodyne::SweepSummary s = velodyne::summarizeSweep(points);
  EXPECT_EQ(s.points, 4U);
  EXPECT_EQ(s.non_finite, 1U);
  EXPECT_NEAR(s.min_range_m, 2.0, 1e-9);
  EXPECT_NEAR(s.max_range_m, 7.0, 1e-9);
  EXPECT_NEAR(s.min_z_m, -2.0, 1e-9);
  EXPECT_NEAR(s.max_z_m, 6.0, 1e-9);
  EXPECT_EQ(s.rings.count(), 3U);
  EXPECT_TRUE(s.rings.test(0) && s.rings.test(7) && s.rings.test(15));
  EXPECT_FALSE(s.rings.test(9));

  const velodyne::SweepSummary none = velodyne::summarizeSweep({});
  EXPECT_EQ(none.points, 0U);
  EXPECT_EQ(none.rings.count(), 0U);
  EXPECT_EQ(none.max_range_m, 0.0);
}

}  // namespace
