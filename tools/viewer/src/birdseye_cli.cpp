#include "birdseye/birdseye_cli.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "birdseye/frame_scene.hpp"
#include "birdseye/gif_writer.hpp"
#include "birdseye/render.hpp"
#include "lidar_sim/dataset_reader.hpp"

namespace birdseye {
namespace {

constexpr const char* kUsage =
    "usage: lidar_birdseye DATASET_DIR [--frames LIST] [--out-dir DIR]\n"
    "                      [--gif FILE [--from A] [--to B] [--step S] [--delay-ms MS]] [options]\n"
    "  Draws bird's-eye pictures of a data set written by lidar_scene_sim, in the robot's base\n"
    "  frame (x forward drawn to the right, y left drawn up): points coloured ground / static /\n"
    "  dynamic by the simulator's truth, truth boxes of people, carts and cyclists, the camera\n"
    "  frusta, the robot footprint, the region of interest, a scale bar and a legend.\n"
    "  --frames LIST       frames to draw as PNG, comma-separated (e.g. 10,20)\n"
    "  --out-dir DIR       folder for the PNGs, named frame_NNNNNN.png (default: .)\n"
    "  --gif FILE          write an animated GIF of frames A..B (inclusive) every S frames\n"
    "  --from A, --to B    first and last frame of the GIF (default: 0 and the last frame)\n"
    "  --step S            frames between GIF pictures (default: 1)\n"
    "  --delay-ms MS       time each GIF picture is shown (default: real time, S frame periods)\n"
    "  --size N | WxH      picture size in pixels (default: 800)\n"
    "  --mpp M             metres per pixel (default: 0.015)\n"
    "  --region X,Y        region of interest half length and half width, m (default: 5,5)\n"
    "  --footprint F,B,W   robot body front x, back x, half width, m (default: 0.41,-0.315,0.255)\n"
    "  --camera START:END  a virtual camera's horizontal field, degrees from +x "
    "counter-clockwise;\n"
    "                      repeat for several (default: one, 0:90)\n"
    "  --no-cameras        draw no camera frusta\n"
    "  --colour label|object  colour points by truth label (default) or by scene object\n"
    "  --max-z M           leave out points higher than M above the base frame (default: 2.0)\n"
    "  --no-boxes          draw no truth boxes\n"
    "  --help              this text\n";

// A mistake in the command line: reported with the usage hint, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

double parseNumber(const std::string& text, const std::string& option) {
  std::size_t used = 0;
  double value = 0.0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(value)) {
    throw UsageError(fmt::format("{} needs a number, got '{}'", option, text));
  }
  return value;
}

std::uint32_t parseIndex(const std::string& text, const std::string& option) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    throw UsageError(fmt::format("{} needs a frame number (0..999999999), got '{}'", option, text));
  }
  return static_cast<std::uint32_t>(std::stoul(text));
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream(text);
  while (std::getline(stream, part, separator)) {
    parts.push_back(part);
  }
  if (!text.empty() && text.back() == separator) {
    parts.emplace_back();
  }
  return parts;
}

std::vector<double> parseNumbers(const std::string& text, const std::string& option,
                                 std::size_t count, char separator = ',') {
  const std::vector<std::string> parts = split(text, separator);
  if (parts.size() != count) {
    throw UsageError(fmt::format("{} needs {} numbers separated by '{}', got '{}'", option, count,
                                 separator, text));
  }
  std::vector<double> values;
  for (const std::string& part : parts) {
    values.push_back(parseNumber(part, option));
  }
  return values;
}

struct Options {
  std::string dataset;
  std::vector<std::uint32_t> frames;
  std::string out_dir{"."};
  std::string gif;
  std::uint32_t from{0};
  std::optional<std::uint32_t> to;
  std::uint32_t step{1};
  std::optional<double> delay_ms;
  FrameView view;
  bool cameras_given{false};
};

Options parseOptions(const std::vector<std::string>& args) {
  Options o;
  bool gif_range_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) {
        throw UsageError(fmt::format("{} needs a value", arg));
      }
      return args[++i];
    };
    if (arg == "--frames") {
      const std::string list = value();
      if (list.empty()) {
        throw UsageError("--frames needs frame numbers separated by commas, got ''");
      }
      for (const std::string& part : split(list, ',')) {
        o.frames.push_back(parseIndex(part, "--frames"));
      }
    } else if (arg == "--out-dir") {
      o.out_dir = value();
    } else if (arg == "--gif") {
      o.gif = value();
    } else if (arg == "--from") {
      o.from = parseIndex(value(), arg);
      gif_range_given = true;
    } else if (arg == "--to") {
      o.to = parseIndex(value(), arg);
      gif_range_given = true;
    } else if (arg == "--step") {
      o.step = parseIndex(value(), arg);
      if (o.step == 0) {
        throw UsageError("--step must be at least 1, got '0'");
      }
      gif_range_given = true;
    } else if (arg == "--delay-ms") {
      const double ms = parseNumber(value(), arg);
      if (ms < 0.0 || ms > 655350.0) {
        throw UsageError(fmt::format("--delay-ms must be in 0..655350, got {}", ms));
      }
      o.delay_ms = ms;
    } else if (arg == "--size") {
      const std::string text = value();
      const std::vector<std::string> parts = split(text, 'x');
      if (parts.size() != 1 && parts.size() != 2) {
        throw UsageError(fmt::format("--size needs N or WxH pixels, got '{}'", text));
      }
      std::vector<int> sides;
      for (const std::string& part : parts) {
        const double side = parseNumber(part, "--size");
        if (side < 16 || side > 8192 || side != std::floor(side)) {
          throw UsageError(
              fmt::format("--size needs whole pixel counts in 16..8192, got '{}'", text));
        }
        sides.push_back(static_cast<int>(side));
      }
      o.view.width_px = sides.front();
      o.view.height_px = sides.back();
    } else if (arg == "--mpp") {
      o.view.metres_per_pixel = parseNumber(value(), arg);
      if (o.view.metres_per_pixel <= 0.0) {
        throw UsageError(
            fmt::format("--mpp must be > 0 metres per pixel, got {}", o.view.metres_per_pixel));
      }
    } else if (arg == "--region") {
      const std::vector<double> v = parseNumbers(value(), arg, 2);
      if (v[0] <= 0.0 || v[1] <= 0.0) {
        throw UsageError(fmt::format("--region half sizes must be > 0, got {},{}", v[0], v[1]));
      }
      o.view.region = Region{v[0], v[1]};
    } else if (arg == "--footprint") {
      const std::vector<double> v = parseNumbers(value(), arg, 3);
      if (v[1] > v[0] || v[2] < 0.0) {
        throw UsageError(fmt::format(
            "--footprint needs front >= back and half width >= 0, got {},{},{}", v[0], v[1], v[2]));
      }
      o.view.footprint = RobotFootprint{v[0], v[1], v[2]};
    } else if (arg == "--camera") {
      const std::vector<double> v = parseNumbers(value(), arg, 2, ':');
      if (std::abs(v[1] - v[0]) > 360.0) {
        throw UsageError(fmt::format("--camera spans at most 360 degrees, got {}:{}", v[0], v[1]));
      }
      if (!o.cameras_given) {
        o.view.cameras.clear();
        o.cameras_given = true;
      }
      o.view.cameras.push_back(CameraSpan{v[0], v[1]});
    } else if (arg == "--no-cameras") {
      o.view.cameras.clear();
      o.cameras_given = true;
    } else if (arg == "--colour" || arg == "--color") {
      const std::string mode = value();
      if (mode == "label") {
        o.view.colouring = Colouring::kLabel;
      } else if (mode == "object") {
        o.view.colouring = Colouring::kObject;
      } else {
        throw UsageError(fmt::format("--colour needs 'label' or 'object', got '{}'", mode));
      }
    } else if (arg == "--max-z") {
      o.view.max_z = parseNumber(value(), arg);
    } else if (arg == "--no-boxes") {
      o.view.truth_boxes = false;
    } else if (!arg.empty() && arg[0] == '-') {
      throw UsageError(fmt::format("unknown option '{}'", arg));
    } else if (o.dataset.empty()) {
      o.dataset = arg;
    } else {
      throw UsageError(
          fmt::format("unexpected argument '{}' (the data set is '{}')", arg, o.dataset));
    }
  }
  if (o.dataset.empty()) {
    throw UsageError("no data set folder given");
  }
  if (o.frames.empty() && o.gif.empty()) {
    throw UsageError("nothing to draw: give --frames and/or --gif");
  }
  if (gif_range_given && o.gif.empty()) {
    throw UsageError("--from, --to and --step need --gif");
  }
  return o;
}

void checkFrame(std::uint32_t index, const lidar_sim::DatasetReader& reader,
                const std::string& dataset, const char* option) {
  if (index >= reader.frameCount()) {
    throw UsageError(fmt::format("{} frame {} is beyond data set '{}', which has frames 0..{}",
                                 option, index, dataset, reader.frameCount() - 1));
  }
}

int run(const Options& o, std::ostream& out) {
  const lidar_sim::DatasetReader reader(o.dataset);
  if (reader.frameCount() == 0) {
    throw std::runtime_error(fmt::format("data set '{}' has no frames", o.dataset));
  }
  for (const std::uint32_t index : o.frames) {
    checkFrame(index, reader, o.dataset, "--frames");
  }
  const std::uint32_t last = o.to.value_or(reader.frameCount() - 1);
  if (!o.gif.empty()) {
    checkFrame(o.from, reader, o.dataset, "--from");
    checkFrame(last, reader, o.dataset, "--to");
    if (last < o.from) {
      throw UsageError(fmt::format("--to {} is before --from {}", last, o.from));
    }
  }
  const std::string title = reader.scenarioName();

  if (!o.frames.empty()) {
    std::filesystem::create_directories(o.out_dir);
  }
  for (const std::uint32_t index : o.frames) {
    const Scene scene = sceneFromFrame(reader.readFrame(index), o.view, title);
    const std::string path =
        (std::filesystem::path(o.out_dir) / fmt::format("frame_{:06d}.png", index)).string();
    renderPng(scene, path);
    out << "wrote " << path << "\n";
  }

  if (!o.gif.empty()) {
    const double delay_ms =
        o.delay_ms.value_or(static_cast<double>(reader.framePeriodNs()) * o.step * 1e-6);
    const int delay_cs = static_cast<int>(std::lround(std::min(delay_ms, 655350.0) / 10.0));
    GifWriter gif(o.gif, o.view.width_px, o.view.height_px, delay_cs, 0);
    for (std::uint64_t index = o.from; index <= last; index += o.step) {
      const Scene scene =
          sceneFromFrame(reader.readFrame(static_cast<std::uint32_t>(index)), o.view, title);
      const CairoSurface image = renderImage(scene);
      gif.append(image.get());
    }
    gif.close();
    out << "wrote " << o.gif << " (" << gif.framesWritten() << " frames)\n";
  }
  return 0;
}

}  // namespace

const char* birdseyeUsage() {
  return kUsage;
}

int runBirdseye(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      out << kUsage;
      return 0;
    }
  }
  try {
    return run(parseOptions(args), out);
  } catch (const UsageError& e) {
    err << "lidar_birdseye: " << e.what() << " (see --help)\n";
    return 2;
  } catch (const std::exception& e) {
    err << "lidar_birdseye: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace birdseye
