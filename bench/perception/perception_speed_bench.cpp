// Per-stage and end-to-end timings of the perception library on synthetic camera clouds of
// several sizes: ground removal, grid clustering and the dynamic split (depth-image update plus
// the division of every cluster), one core.
#include <norvel/perception/cloud_cluster.hpp>
#include <norvel/perception/dynamic_cloud_detector.hpp>
#include <norvel/perception/remove_ground_line_fit.hpp>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using norvel::perception::PointCloud;
using norvel::perception::PointCloudPtr;

// A camera's quarter of a room: 70 % floor returns with 1 cm noise, 30 % on a dozen box-shaped
// obstacles 0.3-0.6 m wide, within azimuth 0..90 degrees and range 0.5..6.5 m.
PointCloudPtr cameraCloud(int points, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> azimuth(0.02F, 1.55F);
  std::uniform_real_distribution<float> range(0.5F, 6.5F);
  std::uniform_real_distribution<float> unit(0.0F, 1.0F);
  std::normal_distribution<float> noise(0.0F, 0.01F);
  auto cloud = std::make_shared<PointCloud>();
  cloud->points.reserve(static_cast<std::size_t>(points));
  const int floor_points = points * 7 / 10;
  for (int i = 0; i < floor_points; ++i) {
    const float a = azimuth(rng);
    const float r = range(rng);
    cloud->points.emplace_back(r * std::cos(a), r * std::sin(a), noise(rng));
  }
  for (int i = floor_points; i < points; ++i) {
    const int box = i % 12;
    const float a = 0.1F + 0.12F * box;
    const float r = 1.5F + 0.35F * box;
    const float size = 0.3F + 0.025F * box;
    cloud->points.emplace_back(r * std::cos(a) + size * unit(rng),
                               r * std::sin(a) + size * unit(rng), 0.06F + 0.6F * unit(rng));
  }
  cloud->width = static_cast<std::uint32_t>(cloud->size());
  cloud->height = 1;
  return cloud;
}

norvel::perception::CameraInfo defaultCamera() {
  norvel::perception::CameraInfo info;
  info.width = 1280;
  info.height = 800;
  info.intrinsics << 640.0F, 0.0F, 640.0F, 0.0F, 220.98F, 400.0F, 0.0F, 0.0F, 1.0F;
  const float c = std::cos(0.7853982F);
  info.camera_to_base << -c, 0, c, 0, c, 0, c, 0, 0, 1, 0, 0.3F, 0, 0, 0, 1;
  return info;
}

Eigen::Matrix4f poseAt(int k) {
  Eigen::Matrix4f t = Eigen::Matrix4f::Identity();
  t(0, 3) = 0.05F * static_cast<float>(k);
  return t;
}

void BM_GroundRemoval(benchmark::State& state) {
  const auto cloud = cameraCloud(static_cast<int>(state.range(0)), 1);
  norvel::perception::RemoveGroundLineFit remover{norvel::perception::GroundRemovalParams{}};
  auto obstacles = std::make_shared<PointCloud>();
  auto ground = std::make_shared<PointCloud>();
  for (auto _ : state) {
    obstacles->clear();
    ground->clear();
    remover.removeGround(cloud, obstacles, ground);
    benchmark::DoNotOptimize(obstacles->points.data());
  }
  state.counters["obstacle_points"] = static_cast<double>(obstacles->size());
}

void BM_Clustering(benchmark::State& state) {
  const auto cloud = cameraCloud(static_cast<int>(state.range(0)), 2);
  norvel::perception::RemoveGroundLineFit remover{norvel::perception::GroundRemovalParams{}};
  auto obstacles = std::make_shared<PointCloud>();
  auto ground = std::make_shared<PointCloud>();
  remover.removeGround(cloud, obstacles, ground);
  norvel::perception::CloudCluster clusterer{norvel::perception::CloudClusterPara{}};
  std::vector<PointCloudPtr> clusters;
  int count = 0;
  for (auto _ : state) {
    clusters.clear();
    clusterer.obstacleCluster(obstacles, count, clusters);
    benchmark::DoNotOptimize(clusters.data());
  }
  state.counters["clusters"] = count;
}

// Ground removal + clustering + Update + DivideCloud of every cluster: one camera's frame.
void BM_FullCameraFrame(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  norvel::perception::RemoveGroundLineFit remover{norvel::perception::GroundRemovalParams{}};
  norvel::perception::CloudCluster clusterer{norvel::perception::CloudClusterPara{}};
  norvel::perception::DynamicCloudDetector detector(PERCEPTION_YAML);
  detector.Init(defaultCamera());
  std::vector<PointCloudPtr> frames;
  for (int k = 0; k < 12; ++k) {
    frames.push_back(cameraCloud(points, 10U + static_cast<unsigned>(k)));
  }
  auto obstacles = std::make_shared<PointCloud>();
  auto ground = std::make_shared<PointCloud>();
  std::vector<PointCloudPtr> clusters;
  PointCloud dynamic;
  PointCloud static_cloud;
  int k = 0;
  for (auto _ : state) {
    const auto& cloud = frames[static_cast<std::size_t>(k % 12)];
    obstacles->clear();
    ground->clear();
    clusters.clear();
    remover.removeGround(cloud, obstacles, ground);
    int count = 0;
    clusterer.obstacleCluster(obstacles, count, clusters);
    detector.Update(obstacles, poseAt(k), false, ground);
    for (const auto& c : clusters) {
      dynamic.clear();
      static_cloud.clear();
      detector.DivideCloud(*c, dynamic, static_cloud);
    }
    ++k;
  }
}

// The motion detector alone (Update with the floor + DivideCloud of every cluster) on camera
// clouds already through ground removal and clustering: at 40000 input points about 14k obstacle
// points, a camera cloud of a dense crowd seen by a 200k-point sensor.
void BM_MotionDetector(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  norvel::perception::RemoveGroundLineFit remover{norvel::perception::GroundRemovalParams{}};
  norvel::perception::CloudCluster clusterer{norvel::perception::CloudClusterPara{}};
  norvel::perception::DynamicCloudDetector detector(PERCEPTION_YAML);
  detector.Init(defaultCamera());
  std::vector<PointCloudPtr> obstacle_frames;
  std::vector<PointCloudPtr> ground_frames;
  std::vector<std::vector<PointCloudPtr>> cluster_frames;
  for (int k = 0; k < 12; ++k) {
    auto obstacles = std::make_shared<PointCloud>();
    auto ground = std::make_shared<PointCloud>();
    remover.removeGround(cameraCloud(points, 10U + static_cast<unsigned>(k)), obstacles, ground);
    std::vector<PointCloudPtr> clusters;
    int count = 0;
    clusterer.obstacleCluster(obstacles, count, clusters);
    obstacle_frames.push_back(obstacles);
    ground_frames.push_back(ground);
    cluster_frames.push_back(clusters);
  }
  PointCloud dynamic;
  PointCloud static_cloud;
  int k = 0;
  for (auto _ : state) {
    const std::size_t frame = static_cast<std::size_t>(k % 12);
    detector.Update(obstacle_frames[frame], poseAt(k), false, ground_frames[frame]);
    for (const auto& c : cluster_frames[frame]) {
      dynamic.clear();
      static_cloud.clear();
      detector.DivideCloud(*c, dynamic, static_cloud);
    }
    ++k;
  }
  state.counters["obstacle_points"] = static_cast<double>(obstacle_frames.front()->size());
}

BENCHMARK(BM_GroundRemoval)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Clustering)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MotionDetector)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullCameraFrame)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
