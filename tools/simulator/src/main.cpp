// lidar_scene_sim: simulates a scenario and writes its frames into a data set directory.
#include <fmt/format.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "lidar_sim/dataset_writer.hpp"
#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"

namespace {

constexpr const char* kUsage =
    "usage: lidar_scene_sim SCENARIO.yaml OUTPUT_DIR [--frames N] [--seed S] [--lidar PRESET]\n"
    "  Simulates the scenario and writes its frames, with ground truth, into OUTPUT_DIR.\n"
    "  --frames N      number of frames (default: the scenario's)\n"
    "  --seed S        noise and placement seed (default: the scenario's)\n"
    "  --lidar PRESET  spinning16, spinning32 or livox, replacing the scenario's lidar but\n"
    "                  keeping its mount\n";

bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 12) {
    return false;
  }
  value = std::stoull(text);
  return value <= max;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenario_path;
  std::string output;
  unsigned long long frames = 0;
  unsigned long long seed = 0;
  bool has_seed = false;
  std::string preset;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return EXIT_SUCCESS;
    }
    if (arg == "--frames" && has_value) {
      if (!parseUnsigned(argv[++i], 1'000'000, frames) || frames == 0) {
        std::cerr << fmt::format(
            "lidar_scene_sim: --frames needs a count in 1..1000000, got '{}'\n", argv[i]);
        return EXIT_FAILURE;
      }
    } else if (arg == "--seed" && has_value) {
      if (!parseUnsigned(argv[++i], 4294967295ULL, seed)) {
        std::cerr << fmt::format(
            "lidar_scene_sim: --seed needs an integer in 0..4294967295, got "
            "'{}'\n",
            argv[i]);
        return EXIT_FAILURE;
      }
      has_seed = true;
    } else if (arg == "--lidar" && has_value) {
      preset = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << fmt::format("lidar_scene_sim: unknown or incomplete option '{}'\n{}", arg,
                               kUsage);
      return EXIT_FAILURE;
    } else if (scenario_path.empty()) {
      scenario_path = arg;
    } else if (output.empty()) {
      output = arg;
    } else {
      std::cerr << fmt::format("lidar_scene_sim: unexpected argument '{}'\n{}", arg, kUsage);
      return EXIT_FAILURE;
    }
  }
  if (scenario_path.empty() || output.empty()) {
    std::cerr << kUsage;
    return EXIT_FAILURE;
  }

  try {
    lidar_sim::Scenario scenario = lidar_sim::loadScenario(scenario_path);
    if (frames != 0) {
      scenario.frames = static_cast<int>(frames);
    }
    if (has_seed) {
      scenario.seed = static_cast<std::uint32_t>(seed);
    }
    if (!preset.empty()) {
      const Eigen::Isometry3d mount = scenario.lidar.mount;
      scenario.lidar = lidar_sim::lidarPreset(preset);
      scenario.lidar.mount = mount;
    }
    std::ifstream source(scenario_path);
    std::stringstream text;
    text << source.rdbuf();

    const auto start = std::chrono::steady_clock::now();
    lidar_sim::LidarSimulator simulator(scenario);
    lidar_sim::DatasetWriter writer(output, scenario, text.str());
    if (writer.staleFilesRemoved() > 0) {
      std::cout << fmt::format("removed {} frame files of an earlier run from {}\n",
                               writer.staleFilesRemoved(), output);
    }
    lidar_sim::SimulatedFrame frame;
    std::uint64_t points = 0;
    std::uint64_t labelled[3] = {0, 0, 0};
    double simulate_seconds = 0.0;
    for (std::uint32_t k = 0; k < simulator.frameCount(); ++k) {
      const auto before = std::chrono::steady_clock::now();
      simulator.simulateFrame(k, frame);
      simulate_seconds +=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
      points += frame.size();
      for (lidar_sim::PointLabel label : frame.labels) {
        ++labelled[static_cast<int>(label)];
      }
      writer.write(frame);
    }
    writer.finish();
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double frame_count = simulator.frameCount();
    std::cout << fmt::format(
        "scenario {}: {} frames, {} points ({:.0f} per frame; ground {}, static {}, dynamic {})\n",
        scenario.name, simulator.frameCount(), points, points / frame_count, labelled[0],
        labelled[1], labelled[2]);
    std::cout << fmt::format(
        "simulation {:.2f} s ({:.1f} ms per frame, {:.1f}x real time), total with writing {:.2f} "
        "s, {:.1f} MB in {}\n",
        simulate_seconds, 1e3 * simulate_seconds / frame_count,
        frame_count * scenario.lidar.frame_period / simulate_seconds, total,
        writer.bytesWritten() / 1e6, output);
  } catch (const std::exception& error) {
    std::cerr << "lidar_scene_sim: " << error.what() << "\n";
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
