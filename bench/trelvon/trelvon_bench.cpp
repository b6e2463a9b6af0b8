// Per-stage figures of the detector with the default configuration (trelvon.yaml: 128 x 128
// pillars of 0.16 m, 10000 pillars of 32 points, a 64 x 64 x 6 anchor map of 3 classes).
//
//   build-*/bench/trelvon/trelvon_bench
//
// Voxelization and the whole pre-process at several point counts, the post-process on a sparse
// and on a dense score map, the network on the engine with 1 and 2 threads, and a full pass; the
// same for the shipped, trained network (models/trelvon_pillars.pt) on 20,000 points.
//
// LibTorch runs its threads on OpenMP, whose workers spin while they wait; when the cores are
// busy with other work a spinning worker holds a core that its partner needs (a 2-thread
// inference took ten times longer than a 1-thread one on two loaded cores). The engine therefore
// sets its own threading when it loads a model, with no environment variable needed: one core
// fewer than the process has for the intra-op team, no inter-op pool, a single-threaded BLAS. On
// a two-core machine both backbone rows thus run one thread.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "trelvon.hpp"
#include "trelvon/voxelization.hpp"

namespace {

using namespace lidar_perception;

YAML::Node DefaultConfig() {
  YAML::Node root = YAML::LoadFile(DEFAULT_CONFIG);
  root["backbone"]["model_path"] = DEFAULT_MODEL;
  return root;
}

// Points spread over the region like the obstacle points of a room: walls, furniture, people.
pcl::PointCloud<pcl::PointXYZ>::Ptr RoomCloud(int count) {
  auto cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
  cloud->points.reserve(count);
  std::mt19937 generator(5);
  std::uniform_real_distribution<float> across(-10.0f, 10.0f);
  std::uniform_real_distribution<float> height(0.05f, 2.0f);
  std::normal_distribution<float> spread(0.0f, 0.4f);
  std::uniform_int_distribution<int> kind(0, 3);
  const float objects[][2] = {{2, 3}, {-4, 1}, {5, -5}, {-2, -6}, {7, 6}, {0, 0}, {-7, 7}};
  for (int i = 0; i < count; ++i) {
    pcl::PointXYZ p;
    switch (kind(generator)) {
      case 0:  // a wall along x = 9.5
        p.x = 9.5f + 0.05f * spread(generator);
        p.y = across(generator);
        break;
      case 1:  // a wall along y = -9.5
        p.x = across(generator);
        p.y = -9.5f + 0.05f * spread(generator);
        break;
      default: {  // objects
        const auto& o = objects[i % 7];
        p.x = o[0] + spread(generator);
        p.y = o[1] + spread(generator);
      }
    }
    p.z = height(generator);
    cloud->points.push_back(p);
  }
  return cloud;
}

void BM_HardVoxelize(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const auto cloud = RoomCloud(count);
  std::vector<float> points;
  for (const auto& p : cloud->points) {
    points.insert(points.end(), {p.x, p.y, p.z, 0.0f});
  }
  const int pillars = 10000;
  const int slots = 32;
  std::vector<float> voxels(static_cast<std::size_t>(pillars) * slots * 10);
  std::vector<int> coors(pillars * 3);
  std::vector<int> counts(pillars);
  const Eigen::TensorMap<const Eigen::Tensor<float, 2, Eigen::RowMajor, long>> point_map(
      points.data(), count, 4);
  voxelization::RowMajorTensorMap<float, 3> voxel_map(voxels.data(), pillars, slots, 10);
  voxelization::RowMajorTensorMap<int, 2> coor_map(coors.data(), pillars, 3);
  voxelization::RowMajorTensorMap<int, 1> count_map(counts.data(), pillars);
  int filled = 0;
  for (auto _ : state) {
    filled = voxelization::hard_voxelize_cpu<float, int>(
        point_map, voxel_map, coor_map, count_map, {0.16f, 0.16f, 4.0f},
        {-10.24f, -10.24f, -1.0f, 10.24f, 10.24f, 3.0f}, slots, pillars, 3);
    benchmark::DoNotOptimize(voxels.data());
  }
  state.counters["pillars"] = filled;
}
BENCHMARK(BM_HardVoxelize)->Arg(10000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_PreProcess(benchmark::State& state) {
  const auto stage = trelvon::CreatePreProcessCpu(DefaultConfig()["preprocess"]);
  const auto cloud = RoomCloud(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    stage->Forward(cloud);
    benchmark::DoNotOptimize(stage->GetVoxels());
  }
  state.counters["pillars"] = *static_cast<const int*>(stage->GetVoxelNum());
}
BENCHMARK(BM_PreProcess)->Arg(10000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Logits drawn around `mean`: -6 leaves a handful of anchors above the 0.3 threshold, +1 puts
// nearly all of them above it, so the heap stays full and suppression works on 100 boxes.
void BM_PostProcess(benchmark::State& state, float mean) {
  const auto stage = trelvon::CreatePostProcessCpu(DefaultConfig()["postprocess"]);
  const int anchors = 64 * 64 * 6;
  std::mt19937 generator(9);
  std::normal_distribution<float> logit(mean, 1.5f);
  std::normal_distribution<float> delta(0.0f, 0.3f);
  std::vector<float> cls(anchors * 3);
  std::vector<float> box(anchors * 7);
  std::vector<float> dir(anchors * 2);
  for (float& v : cls)
    v = logit(generator);
  for (float& v : box)
    v = delta(generator);
  for (float& v : dir)
    v = delta(generator);
  for (auto _ : state) {
    stage->Forward(cls.data(), box.data(), dir.data());
    benchmark::DoNotOptimize(stage->GetBboxes().data());
  }
  state.counters["boxes"] = static_cast<double>(stage->GetBboxes().size());
}
BENCHMARK_CAPTURE(BM_PostProcess, sparse_64x64, -6.0f)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PostProcess, dense_64x64, 1.0f)->Unit(benchmark::kMillisecond);

void BM_Backbone(benchmark::State& state) {
  YAML::Node config = DefaultConfig();
  config["backbone"]["num_threads"] = static_cast<int>(state.range(0));
  const auto pre = trelvon::CreatePreProcessCpu(config["preprocess"]);
  const auto backbone = trelvon::CreateBackbone(config["backbone"]);
  pre->Forward(RoomCloud(50000));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        backbone->Forward(pre->GetVoxels(), pre->GetCoors(), pre->GetVoxelNum()));
  }
}
BENCHMARK(BM_Backbone)
    ->ArgName("threads")
    ->Arg(2)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

void BM_Detector(benchmark::State& state) {
  const auto detector = trelvon::CreateTrelvon(DefaultConfig());
  const auto cloud = RoomCloud(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    detector->Forward(cloud);
    benchmark::DoNotOptimize(detector->GetBboxes().data());
  }
  state.counters["boxes"] = static_cast<double>(detector->GetBboxes().size());
}
BENCHMARK(BM_Detector)->Arg(50000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The shipped, trained network (models/trelvon_pillars.pt) with the shipped configuration: the
// network alone and a whole pass on a frame of 20,000 points.
YAML::Node ShippedConfig() {
  YAML::Node root = YAML::LoadFile(DEFAULT_CONFIG);
  root["backbone"]["model_path"] = SHIPPED_MODEL;
  return root;
}

void BM_ShippedBackbone(benchmark::State& state) {
  const YAML::Node config = ShippedConfig();
  const auto pre = trelvon::CreatePreProcessCpu(config["preprocess"]);
  const auto backbone = trelvon::CreateBackbone(config["backbone"]);
  pre->Forward(RoomCloud(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        backbone->Forward(pre->GetVoxels(), pre->GetCoors(), pre->GetVoxelNum()));
  }
}
BENCHMARK(BM_ShippedBackbone)->Arg(20000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ShippedDetector(benchmark::State& state) {
  const auto detector = trelvon::CreateTrelvon(ShippedConfig());
  const auto cloud = RoomCloud(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    detector->Forward(cloud);
    benchmark::DoNotOptimize(detector->GetBboxes().data());
  }
  state.counters["boxes"] = static_cast<double>(detector->GetBboxes().size());
}
BENCHMARK(BM_ShippedDetector)->Arg(20000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
