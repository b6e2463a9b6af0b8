// velodyne_rawlog_to_pcd: decodes the VLP-16 packets of a recording into one PCD file.
#include <fmt/format.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "velodyne/cloud_message.hpp"
#include "velodyne/mrpt_dataset.hpp"
#include "velodyne/packet_error.hpp"
#include "velodyne/pcd_export.hpp"
#include "velodyne/rawlog_reader.hpp"
#include "velodyne/sweep_summary.hpp"
#include "velodyne/vlp16_decoder.hpp"

namespace {

constexpr const char* kProgram = "velodyne_rawlog_to_pcd";

std::string usage() {
  return fmt::format(
      "usage: {} [INPUT] [--output FILE.pcd] [--ascii]\n"
      "  Decodes the VLP-16 data packets found in INPUT (gzip-compressed or not, such as an MRPT\n"
      "  rawlog) into one cloud in the sensor frame and writes it as a PCD file with the fields\n"
      "  x y z intensity ring time.\n"
      "  INPUT            default: {} (Debian package mrpt-common)\n"
      "  --output FILE    default: vlp16_sweep.pcd\n"
      "  --ascii          write an ASCII PCD instead of a binary one\n"
      "  --help           this text\n",
      kProgram, velodyne::kMrptVlp16Rawlog);
}

}  // namespace

int main(int argc, char** argv) {
  std::string input;
  std::string output = "vlp16_sweep.pcd";
  bool ascii = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << usage();
      return EXIT_SUCCESS;
    }
    if (arg == "--output" && i + 1 < argc) {
      output = argv[++i];
    } else if (arg == "--ascii") {
      ascii = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << fmt::format("{}: unknown or incomplete option '{}'\n{}", kProgram, arg, usage());
      return EXIT_FAILURE;
    } else if (input.empty()) {
      input = arg;
    } else {
      std::cerr << fmt::format("{}: unexpected argument '{}'\n{}", kProgram, arg, usage());
      return EXIT_FAILURE;
    }
  }
  if (input.empty()) {
    input = velodyne::kMrptVlp16Rawlog;
  }
  try {
    const velodyne::FoundPackets found = velodyne::readRawlogPackets(input);
    std::vector<velodyne::Vlp16Point> points;
    try {
      points = velodyne::decodeSweep(found.packets);
    } catch (const velodyne::MalformedPacketError& e) {
      // Offsets count in the inflated content when the file is gzip-compressed.
      throw std::runtime_error(fmt::format("'{}': {} (the packet starts at content byte {})", input,
                                           e.what(), found.offsets[e.packetIndex()]));
    }
    const velodyne::SweepSummary summary = velodyne::summarizeSweep(points);
    velodyne::writePcd(velodyne::toPointCloud2(points, 0), output, ascii);
    std::cout << fmt::format(
        "{}: {} packets -> {} points, {} of 16 rings\n"
        "  range {:.2f} .. {:.2f} m, height (sensor frame z) {:.2f} .. {:.2f} m\n"
        "  wrote {}\n",
        input, found.packets.size(), summary.points, summary.rings.count(), summary.min_range_m,
        summary.max_range_m, summary.min_z_m, summary.max_z_m, output);
  } catch (const std::exception& e) {
    std::cerr << fmt::format("{}: {}\n", kProgram, e.what());
    if (input == velodyne::kMrptVlp16Rawlog) {
      std::cerr << "  (the default input comes with Debian's mrpt-common package: "
                   "apt-get install mrpt-common)\n";
    }
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
