// Cluster completeness of the quality figures: per-object shares pooled over objects that share
// truth ids across scenarios, frames and cameras.
#include "cluster_completeness.hpp"

#include <gtest/gtest.h>

namespace perception_bench {
namespace {

void addObject(ClusterCompleteness& figure, const ObjectKey& key, int cluster, int points) {
  for (int i = 0; i < points; ++i) {
    figure.addPoint(key, cluster);
  }
}

TEST(ClusterCompletenessTest, ShareOfPointsInTheLargestCluster) {
  ClusterCompleteness figure;
  const ObjectKey person{0, 3, 1, 7};
  addObject(figure, person, 2, 6);
  addObject(figure, person, 5, 3);
  addObject(figure, person, -1, 1);  // not clustered at all
  EXPECT_EQ(figure.objectCount(), 1U);
  EXPECT_DOUBLE_EQ(figure.value(), 0.6);
}

TEST(ClusterCompletenessTest, ObjectsOfDifferentScenariosStayApart) {
  // Same frame, camera, truth id and cluster index in two scenarios: each object is whole in its
  // own cluster, so the pooled figure is complete; merged they would look split in two.
  ClusterCompleteness pooled;
  addObject(pooled, ObjectKey{0, 10, 2, 4}, 0, 5);
  addObject(pooled, ObjectKey{1, 10, 2, 4}, 1, 5);
  EXPECT_EQ(pooled.objectCount(), 2U);
  EXPECT_DOUBLE_EQ(pooled.value(), 1.0);
}

TEST(ClusterCompletenessTest, FramesAndCamerasStayApart) {
  ClusterCompleteness pooled;
  addObject(pooled, ObjectKey{0, 1, 0, 4}, 0, 4);
  addObject(pooled, ObjectKey{0, 2, 0, 4}, 1, 4);
  addObject(pooled, ObjectKey{0, 1, 3, 4}, 2, 4);
  EXPECT_EQ(pooled.objectCount(), 3U);
  EXPECT_DOUBLE_EQ(pooled.value(), 1.0);
}

TEST(ClusterCompletenessTest, PooledFigureLiesBetweenTheScenarios) {
  ClusterCompleteness first;
  ClusterCompleteness second;
  ClusterCompleteness pooled;
  for (int scenario = 0; scenario < 2; ++scenario) {
    ClusterCompleteness& own = scenario == 0 ? first : second;
    for (ClusterCompleteness* figure : {&own, &pooled}) {
      // Scenario 0 splits its object 8 + 2, scenario 1 keeps it whole.
      addObject(*figure, ObjectKey{scenario, 0, 0, 1}, 0, scenario == 0 ? 8 : 10);
      addObject(*figure, ObjectKey{scenario, 0, 0, 1}, 1, scenario == 0 ? 2 : 0);
    }
  }
  EXPECT_DOUBLE_EQ(first.value(), 0.8);
  EXPECT_DOUBLE_EQ(second.value(), 1.0);
  EXPECT_DOUBLE_EQ(pooled.value(), 0.9);
}

TEST(ClusterCompletenessTest, EmptyIsZero) {
  EXPECT_DOUBLE_EQ(ClusterCompleteness{}.value(), 0.0);
}

}  // namespace
}  // namespace perception_bench
