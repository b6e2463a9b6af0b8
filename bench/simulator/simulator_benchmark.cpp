// Simulation speed per frame for the shipped scenarios and several point counts, on one thread.
// "realtime" is simulated seconds per wall-clock second: 10 means ten times faster than the
// sensor produces frames.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "lidar_sim/dataset_writer.hpp"
#include "lidar_sim/frame_messages.hpp"
#include "lidar_sim/lidar_simulator.hpp"

namespace {

using lidar_sim::LidarSimulator;
using lidar_sim::Scenario;
using lidar_sim::SimulatedFrame;

Scenario scenario(const std::string& name, const std::string& preset, int points_per_frame) {
  Scenario loaded = lidar_sim::loadScenario(std::string(SCENARIO_DIR) + "/" + name + ".yaml");
  const Eigen::Isometry3d mount = loaded.lidar.mount;
  loaded.lidar = lidar_sim::lidarPreset(preset);
  loaded.lidar.mount = mount;
  if (points_per_frame > 0) {
    loaded.lidar.points_per_frame = points_per_frame;
  }
  return loaded;
}

void reportFrames(benchmark::State& state, const LidarSimulator& simulator, std::size_t points) {
  const double frames = static_cast<double>(state.iterations());
  state.counters["points"] = benchmark::Counter(static_cast<double>(points));
  state.counters["beams"] = benchmark::Counter(static_cast<double>(simulator.beamsPerFrame()));
  state.counters["realtime"] = benchmark::Counter(frames * simulator.scenario().lidar.frame_period,
                                                  benchmark::Counter::kIsRate);
  state.counters["beams/s"] = benchmark::Counter(
      frames * static_cast<double>(simulator.beamsPerFrame()), benchmark::Counter::kIsRate);
}

void simulateFrames(benchmark::State& state, const std::string& name, const std::string& preset) {
  LidarSimulator simulator(scenario(name, preset, static_cast<int>(state.range(0))));
  SimulatedFrame frame;
  std::uint32_t index = 0;
  for (auto _ : state) {
    simulator.simulateFrame(index++ % 200, frame);
    benchmark::DoNotOptimize(frame.cloud->points.data());
  }
  reportFrames(state, simulator, frame.size());
}

void BM_CrowdedHallLivox(benchmark::State& state) {
  simulateFrames(state, "crowded_hall", "livox");
}
BENCHMARK(BM_CrowdedHallLivox)->Arg(20000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_OfficeLivox(benchmark::State& state) {
  simulateFrames(state, "office_crossing", "livox");
}
BENCHMARK(BM_OfficeLivox)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_OfficeSpinning16(benchmark::State& state) {
  simulateFrames(state, "office_crossing", "spinning16");
}
BENCHMARK(BM_OfficeSpinning16)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_CrowdedHallSpinning32(benchmark::State& state) {
  simulateFrames(state, "crowded_hall", "spinning32");
}
BENCHMARK(BM_CrowdedHallSpinning32)->Arg(0)->Unit(benchmark::kMillisecond);

// Building both messages of a 20k-point frame, as a publisher would every frame.
void BM_MessagesLivox20k(benchmark::State& state) {
  LidarSimulator simulator(scenario("crowded_hall", "livox", 20000));
  const SimulatedFrame frame = simulator.simulateFrame(0);
  for (auto _ : state) {
    auto cloud = lidar_sim::toPointCloud2(frame);
    auto custom = lidar_sim::toCustomMsg(frame);
    benchmark::DoNotOptimize(cloud.data.data());
    benchmark::DoNotOptimize(custom.points.data());
  }
  state.counters["points"] = benchmark::Counter(static_cast<double>(frame.size()));
}
BENCHMARK(BM_MessagesLivox20k)->Unit(benchmark::kMicrosecond);

// Writing one 20k-point frame into a data set directory (page cache, no fsync).
void BM_WriteFrameLivox20k(benchmark::State& state) {
  const Scenario hall = scenario("crowded_hall", "livox", 20000);
  LidarSimulator simulator(hall);
  SimulatedFrame frame = simulator.simulateFrame(0);
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / "lidar_sim_benchmark";
  {
    lidar_sim::DatasetWriter writer(directory.string(), hall);
    for (auto _ : state) {
      writer.write(frame);
    }
  }
  std::filesystem::remove_all(directory);
  state.counters["points"] = benchmark::Counter(static_cast<double>(frame.size()));
}
BENCHMARK(BM_WriteFrameLivox20k)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
