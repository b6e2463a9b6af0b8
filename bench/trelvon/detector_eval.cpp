// Detection quality of the pillar detector on simulated scenes: bird's-eye average precision per
// class, object and frame counts, and the time of each stage.
//
//   detector_eval [options] [SCENARIO.yaml ...]
//
// Without scenario files it reads the held-out scenes of tools/trainer/heldout (layouts and seeds
// that training never saw). Every frame of every scenario is simulated, put into the robot's base
// frame and run through the whole detector (CreateTrelvon on trelvon.yaml, then Forward); the
// same cloud also goes through the three stages one by one to time them.
//
// Truth: the person, cart and cyclist boxes whose centre lies within --range of the robot. An
// object with fewer than --min-points points in the detector's input is not counted: detections
// on it are neither right nor wrong. A detection is right when its bird's-eye overlap (rotated
// rectangles, intersection over union) with a not yet matched object of its class reaches the
// threshold; AP is the area under the precision-recall curve with precision made monotonic.
//
// Options:
//   --config PATH        trelvon.yaml (default: the shipped one)
//   --model PATH         network, replaces backbone.model_path
//   --score-thresh X     replaces postprocess.score_thresh (default: the file's value)
//   --range M            evaluation radius, metres (default 10)
//   --min-points N       fewest points on a counted object (default 5)
//   --stride K           every K-th frame (default 1)
//   --node-input         hand the detector what the node hands it: no ground points, nothing
//                        above 0.666 m, only |x|, |y| <= 5 m (the node's default region)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "lidar_sim/lidar_simulator.hpp"
#include "lidar_sim/scenario.hpp"
#include "trelvon.hpp"

namespace {

namespace fs = std::filesystem;
using lidar_perception::trelvon::BBox;
using Clock = std::chrono::steady_clock;

const char* const kClassNames[] = {"person", "cart", "cyclist"};
constexpr int kClasses = 3;

struct Options {
  std::string config = DEFAULT_CONFIG;
  std::string model;
  double score_thresh = -1.0;
  double range = 10.0;
  int min_points = 5;
  int stride = 1;
  bool node_input = false;
  std::vector<std::string> scenarios;
};

struct Point2 {
  double x, y;
};

std::vector<Point2> Corners(double x, double y, double length, double width, double yaw) {
  const double c = std::cos(yaw), s = std::sin(yaw);
  std::vector<Point2> corners;
  const double u[4] = {0.5, -0.5, -0.5, 0.5};
  const double v[4] = {0.5, 0.5, -0.5, -0.5};
  for (int i = 0; i < 4; ++i) {
    const double a = u[i] * length, b = v[i] * width;
    corners.push_back({x + c * a - s * b, y + s * a + c * b});
  }
  return corners;  // counter-clockwise
}

double Area(const std::vector<Point2>& polygon) {
  double twice = 0.0;
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const Point2& p = polygon[i];
    const Point2& q = polygon[(i + 1) % polygon.size()];
    twice += p.x * q.y - q.x * p.y;
  }
  return 0.5 * std::abs(twice);
}

// Clips `subject` by the convex counter-clockwise polygon `clip`.
std::vector<Point2> Clip(std::vector<Point2> subject, const std::vector<Point2>& clip) {
  for (std::size_t e = 0; e < clip.size() && !subject.empty(); ++e) {
    const Point2 a = clip[e], b = clip[(e + 1) % clip.size()];
    const auto side = [&](const Point2& p) {
      return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    };
    std::vector<Point2> kept;
    for (std::size_t i = 0; i < subject.size(); ++i) {
      const Point2 p = subject[i], q = subject[(i + 1) % subject.size()];
      const double sp = side(p), sq = side(q);
      if (sp >= 0) {
        kept.push_back(p);
      }
      if ((sp >= 0) != (sq >= 0)) {
        const double t = sp / (sp - sq);
        kept.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
      }
    }
    subject = kept;
  }
  return subject;
}

struct Box2 {
  double x, y, length, width, yaw;
};

double BirdsEyeIoU(const Box2& a, const Box2& b) {
  if (std::hypot(a.x - b.x, a.y - b.y) >
      0.5 * (std::hypot(a.length, a.width) + std::hypot(b.length, b.width))) {
    return 0.0;
  }
  const auto pa = Corners(a.x, a.y, a.length, a.width, a.yaw);
  const auto pb = Corners(b.x, b.y, b.length, b.width, b.yaw);
  const double inter = Area(Clip(pa, pb));
  const double uni = a.length * a.width + b.length * b.width - inter;
  return uni > 0 ? inter / uni : 0.0;
}

struct Truth {
  Box2 box;
  int cls;
  bool counted;  // enough points
  int points;    // in the detector's input
};

struct Detection {
  Box2 box;
  int cls;
  float score;
  int frame;
};

struct Timing {
  std::vector<double> pre, backbone, post, total;
};

void PrintStage(const char* name, std::vector<double> ms) {
  if (ms.empty()) {
    return;
  }
  std::sort(ms.begin(), ms.end());
  double sum = 0.0;
  for (double v : ms) {
    sum += v;
  }
  const double p95 = ms[std::min(ms.size() - 1, static_cast<std::size_t>(0.95 * ms.size()))];
  std::printf("  %-22s mean %7.2f ms  median %7.2f ms  p95 %7.2f ms  max %7.2f ms\n", name,
              sum / ms.size(), ms[ms.size() / 2], p95, ms.back());
}

// Average precision of one class at one overlap threshold.
struct Score {
  double ap = 0.0;
  int objects = 0;
  int detections = 0;
  double recall = 0.0;
  double precision = 0.0;
};

Score AveragePrecision(const std::vector<std::vector<Truth>>& truth,
                       const std::vector<Detection>& detections, int cls, double threshold) {
  Score score;
  std::vector<const Detection*> mine;
  for (const auto& d : detections) {
    if (d.cls == cls) {
      mine.push_back(&d);
    }
  }
  std::stable_sort(mine.begin(), mine.end(),
                   [](const Detection* a, const Detection* b) { return a->score > b->score; });
  std::vector<std::vector<bool>> taken(truth.size());
  for (std::size_t f = 0; f < truth.size(); ++f) {
    taken[f].assign(truth[f].size(), false);
    for (const auto& t : truth[f]) {
      score.objects += (t.cls == cls && t.counted) ? 1 : 0;
    }
  }
  std::vector<double> precision, recall;
  int tp = 0, fp = 0;
  for (const Detection* d : mine) {
    const auto& objects = truth[d->frame];
    int best = -1;
    double best_iou = threshold;
    bool on_uncounted = false;
    for (std::size_t i = 0; i < objects.size(); ++i) {
      if (objects[i].cls != cls) {
        continue;
      }
      const double iou = BirdsEyeIoU(d->box, objects[i].box);
      if (iou < threshold) {
        continue;
      }
      if (!objects[i].counted) {
        on_uncounted = true;
      } else if (!taken[d->frame][i] && iou >= best_iou) {
        best = static_cast<int>(i);
        best_iou = iou;
      }
    }
    if (best >= 0) {
      taken[d->frame][best] = true;
      ++tp;
    } else if (on_uncounted) {
      continue;  // a barely seen object: neither right nor wrong
    } else {
      ++fp;
    }
    precision.push_back(static_cast<double>(tp) / (tp + fp));
    recall.push_back(score.objects > 0 ? static_cast<double>(tp) / score.objects : 0.0);
  }
  score.detections = tp + fp;
  score.recall = recall.empty() ? 0.0 : recall.back();
  score.precision = precision.empty() ? 0.0 : precision.back();
  for (int i = static_cast<int>(precision.size()) - 2; i >= 0; --i) {
    precision[i] = std::max(precision[i], precision[i + 1]);
  }
  double previous = 0.0;
  for (std::size_t i = 0; i < precision.size(); ++i) {
    score.ap += (recall[i] - previous) * precision[i];
    previous = recall[i];
  }
  return score;
}

// Where the boxes of found people go wrong: of each counted person's best person box (overlap
// at least 0.25), the centre's distance, the size ratios and the heading difference.
void PrintFoundPeople(const std::vector<std::vector<Truth>>& truth,
                      const std::vector<Detection>& detections) {
  std::vector<std::vector<const Detection*>> per_frame(truth.size());
  for (const Detection& d : detections) {
    if (d.cls == 0) {
      per_frame[static_cast<std::size_t>(d.frame)].push_back(&d);
    }
  }
  std::vector<double> centre, length_ratio, width_ratio, heading, found_points, missed_points;
  int strict = 0;
  int missed_beside_a_box = 0;
  for (std::size_t f = 0; f < truth.size(); ++f) {
    for (const Truth& t : truth[f]) {
      if (t.cls != 0 || !t.counted) {
        continue;
      }
      const Detection* best = nullptr;
      double best_iou = 0.25;
      for (const Detection* d : per_frame[f]) {
        const double iou = BirdsEyeIoU(d->box, t.box);
        if (iou >= best_iou) {
          best = d;
          best_iou = iou;
        }
      }
      if (best == nullptr) {
        missed_points.push_back(t.points);
        // A box suppressed for touching a neighbour's leaves its person next to that box.
        for (const Detection* d : per_frame[f]) {
          if (std::hypot(d->box.x - t.box.x, d->box.y - t.box.y) < 0.7) {
            ++missed_beside_a_box;
            break;
          }
        }
        continue;
      }
      found_points.push_back(t.points);
      strict += best_iou >= 0.5 ? 1 : 0;
      centre.push_back(std::hypot(best->box.x - t.box.x, best->box.y - t.box.y));
      length_ratio.push_back(best->box.length / t.box.length);
      width_ratio.push_back(best->box.width / t.box.width);
      const double turn = std::fmod(std::abs(best->box.yaw - t.box.yaw), M_PI);
      heading.push_back(std::min(turn, M_PI - turn) * 180.0 / M_PI);
    }
  }
  const auto quantile = [](std::vector<double> v, double q) {
    if (v.empty()) {
      return 0.0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * v.size()))];
  };
  std::printf(
      "People found at overlap 0.25: %zu, of them %d at 0.5. Median (90th percentile): centre "
      "off by %.3f (%.3f) m, length x %.2f (%.2f), width x %.2f (%.2f), heading off by %.0f "
      "(%.0f) degrees modulo a half turn\n",
      centre.size(), strict, quantile(centre, 0.5), quantile(centre, 0.9),
      quantile(length_ratio, 0.5), quantile(length_ratio, 0.9), quantile(width_ratio, 0.5),
      quantile(width_ratio, 0.9), quantile(heading, 0.5), quantile(heading, 0.9));
  std::printf(
      "People without a box: %zu, %d of them within 0.7 m of another person box; points on "
      "them, median %.0f (10th percentile %.0f); on found people %.0f (%.0f)\n",
      missed_points.size(), missed_beside_a_box, quantile(missed_points, 0.5),
      quantile(missed_points, 0.1), quantile(found_points, 0.5), quantile(found_points, 0.1));
}

// What the false person boxes stand on: the scene object whose footprint, grown by 0.15 m,
// holds the box's centre (furniture and pillars before walls), or nothing.
void PrintFalsePersonBoxes(const std::vector<std::vector<Truth>>& truth,
                           const std::vector<std::vector<lidar_sim::ObjectBox>>& scene_objects,
                           const std::vector<Detection>& detections) {
  std::map<std::string, int> on;
  int false_boxes = 0;
  for (const Detection& d : detections) {
    if (d.cls != 0) {
      continue;
    }
    bool person = false;
    for (const Truth& t : truth[static_cast<std::size_t>(d.frame)]) {
      person |= t.cls == 0 && BirdsEyeIoU(d.box, t.box) >= 0.25;
    }
    if (person) {
      continue;
    }
    ++false_boxes;
    std::string where = "nothing";
    int rank = 0;
    for (const auto& object : scene_objects[static_cast<std::size_t>(d.frame)]) {
      const double c = std::cos(object.yaw), s = std::sin(object.yaw);
      const double dx = d.box.x - object.x, dy = d.box.y - object.y;
      const double along = c * dx + s * dy, across = -s * dx + c * dy;
      if (std::abs(along) > 0.5 * object.length + 0.15 ||
          std::abs(across) > 0.5 * object.width + 0.15) {
        continue;
      }
      const bool wall = object.object_class == lidar_sim::ObjectClass::kWall;
      const int object_rank = wall ? 1 : 2;
      if (object_rank > rank) {
        rank = object_rank;
        where = lidar_sim::toString(object.object_class);
      }
    }
    ++on[where];
  }
  std::printf("False person boxes (no person within overlap 0.25): %d, on:", false_boxes);
  for (const auto& [where, count] : on) {
    std::printf(" %s %d", where.c_str(), count);
  }
  std::printf("\n");
}

int ClassIndex(lidar_sim::ObjectClass object_class) {
  switch (object_class) {
    case lidar_sim::ObjectClass::kPerson:
      return 0;
    case lidar_sim::ObjectClass::kCart:
      return 1;
    case lidar_sim::ObjectClass::kCyclist:
      return 2;
    default:
      return -1;
  }
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--config") {
      options.config = value();
    } else if (arg == "--model") {
      options.model = value();
    } else if (arg == "--score-thresh") {
      options.score_thresh = std::stod(value());
    } else if (arg == "--range") {
      options.range = std::stod(value());
    } else if (arg == "--min-points") {
      options.min_points = std::stoi(value());
    } else if (arg == "--stride") {
      options.stride = std::max(1, std::stoi(value()));
    } else if (arg == "--node-input") {
      options.node_input = true;
    } else if (arg == "-h" || arg == "--help") {
      return false;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      return false;
    } else {
      options.scenarios.push_back(arg);
    }
  }
  if (options.scenarios.empty()) {
    for (const auto& entry : fs::directory_iterator(HELDOUT_DIR)) {
      if (entry.path().extension() == ".yaml") {
        options.scenarios.push_back(entry.path().string());
      }
    }
    std::sort(options.scenarios.begin(), options.scenarios.end());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: detector_eval [--config PATH] [--model PATH] [--score-thresh X] "
                 "[--range M] [--min-points N] [--stride K] [--node-input] [SCENARIO.yaml ...]\n");
    return 2;
  }
  YAML::Node root = YAML::LoadFile(options.config);
  if (!options.model.empty()) {
    root["backbone"]["model_path"] = options.model;
  } else {
    // The shipped file names the model relative to the repository root.
    const fs::path named = root["backbone"]["model_path"].as<std::string>();
    if (named.is_relative() && !fs::exists(named) && fs::exists(fs::path(SOURCE_DIR) / named)) {
      root["backbone"]["model_path"] = (fs::path(SOURCE_DIR) / named).string();
    }
  }
  if (options.score_thresh > 0.0) {
    root["postprocess"]["score_thresh"] = options.score_thresh;
  }
  auto detector = lidar_perception::trelvon::CreateTrelvon(root);
  auto pre = lidar_perception::trelvon::CreatePreProcessCpu(root["preprocess"]);
  auto backbone = lidar_perception::trelvon::CreateBackbone(root["backbone"]);
  auto post = lidar_perception::trelvon::CreatePostProcessCpu(root["postprocess"]);
  if (!detector || !pre || !backbone || !post) {
    std::fprintf(stderr, "the detector cannot be created from %s\n", options.config.c_str());
    return 1;
  }
  std::printf("model %s, score threshold %.3f, range %.1f m, objects with >= %d points%s\n",
              root["backbone"]["model_path"].as<std::string>().c_str(),
              root["postprocess"]["score_thresh"].as<double>(), options.range, options.min_points,
              options.node_input ? ", node input" : "");

  std::vector<std::vector<Truth>> truth;
  // Every scene object of each frame (walls and furniture too), base frame.
  std::vector<std::vector<lidar_sim::ObjectBox>> scene_objects;
  std::vector<Detection> detections;
  Timing timing;
  long points_total = 0;
  struct SceneRange {
    std::string name;
    int first_frame, end_frame;
  };
  std::vector<SceneRange> scenes;
  for (const std::string& path : options.scenarios) {
    const lidar_sim::Scenario scenario = lidar_sim::loadScenario(path);
    lidar_sim::LidarSimulator simulator(scenario);
    int frames = 0;
    int objects[kClasses] = {0, 0, 0};
    for (std::uint32_t k = 0; k < simulator.frameCount(); k += options.stride) {
      const lidar_sim::SimulatedFrame frame = simulator.simulateFrame(k);
      auto cloud = std::make_shared<pcl::PointCloud<pcl::PointXYZ>>();
      std::map<std::uint16_t, int> object_points;
      for (std::size_t i = 0; i < frame.size(); ++i) {
        const auto& p = frame.cloud->points[i];
        const Eigen::Vector3d base = frame.base_to_lidar * Eigen::Vector3d(p.x, p.y, p.z);
        if (options.node_input &&
            (frame.labels[i] == lidar_sim::PointLabel::kGround || base.z() > 0.666 ||
             std::abs(base.x()) > 5.0 || std::abs(base.y()) > 5.0)) {
          continue;
        }
        cloud->points.emplace_back(static_cast<float>(base.x()), static_cast<float>(base.y()),
                                   static_cast<float>(base.z()));
        if (std::abs(base.x()) < 10.24 && std::abs(base.y()) < 10.24) {
          ++object_points[frame.object_ids[i]];
        }
      }
      cloud->width = static_cast<std::uint32_t>(cloud->size());
      cloud->height = 1;
      points_total += static_cast<long>(cloud->size());

      const int index = static_cast<int>(truth.size());
      truth.emplace_back();
      scene_objects.push_back(frame.boxes);
      for (const auto& box : frame.boxes) {
        const int cls = ClassIndex(box.object_class);
        if (cls < 0 || std::hypot(box.x, box.y) > options.range) {
          continue;
        }
        const bool counted = object_points[box.id] >= options.min_points;
        truth.back().push_back(
            {{box.x, box.y, box.length, box.width, box.yaw}, cls, counted, object_points[box.id]});
        objects[cls] += counted ? 1 : 0;
      }

      auto t0 = Clock::now();
      detector->Forward(cloud);
      auto t1 = Clock::now();
      const std::vector<BBox> boxes = detector->GetBboxes();
      timing.total.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      for (const BBox& b : boxes) {
        if (b.label < 0 || b.label >= kClasses || std::hypot(b.x, b.y) > options.range) {
          continue;
        }
        detections.push_back({{b.x, b.y, b.length, b.width, b.yaw}, b.label, b.score, index});
      }

      t0 = Clock::now();
      pre->Forward(cloud);
      auto t2 = Clock::now();
      backbone->Forward(pre->GetVoxels(), pre->GetCoors(), pre->GetVoxelNum());
      auto t3 = Clock::now();
      post->Forward(static_cast<const float*>(backbone->GetClsScore()),
                    static_cast<const float*>(backbone->GetBboxPred()),
                    static_cast<const float*>(backbone->GetDirClsPred()));
      auto t4 = Clock::now();
      timing.pre.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
      timing.backbone.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
      timing.post.push_back(std::chrono::duration<double, std::milli>(t4 - t3).count());
      ++frames;
    }
    std::printf("%-28s %-10s %4d frames, objects: %d people, %d carts, %d cyclists\n",
                scenario.name.c_str(), fs::path(path).parent_path().filename().c_str(), frames,
                objects[0], objects[1], objects[2]);
    scenes.push_back(
        {scenario.name, static_cast<int>(truth.size()) - frames, static_cast<int>(truth.size())});
  }

  // Per scene: people at IoU 0.5, from the scene's own frames and detections.
  std::printf("\nPeople per scene, AP at IoU 0.5 (0.25):\n");
  for (const SceneRange& scene : scenes) {
    std::vector<std::vector<Truth>> scene_truth(truth.begin() + scene.first_frame,
                                                truth.begin() + scene.end_frame);
    std::vector<Detection> scene_detections;
    for (Detection d : detections) {
      if (d.frame >= scene.first_frame && d.frame < scene.end_frame) {
        d.frame -= scene.first_frame;
        scene_detections.push_back(d);
      }
    }
    const Score strict = AveragePrecision(scene_truth, scene_detections, 0, 0.5);
    const Score loose = AveragePrecision(scene_truth, scene_detections, 0, 0.25);
    std::printf("  %-28s %.3f (%.3f)  %4d people, %4d detections\n", scene.name.c_str(), strict.ap,
                loose.ap, strict.objects, strict.detections);
  }

  std::printf("\n%zu frames, %.0f points per frame on average\n", truth.size(),
              truth.empty() ? 0.0 : static_cast<double>(points_total) / truth.size());
  std::printf("Bird's-eye AP within %.1f m:\n", options.range);
  for (int cls = 0; cls < kClasses; ++cls) {
    std::vector<double> thresholds = {0.5};
    if (cls == 0) {
      thresholds.push_back(0.25);
    }
    for (double threshold : thresholds) {
      const Score s = AveragePrecision(truth, detections, cls, threshold);
      std::printf(
          "  %-8s IoU %.2f: AP %.3f  (%d objects, %d detections; at the threshold: recall %.3f, "
          "precision %.3f)\n",
          kClassNames[cls], threshold, s.ap, s.objects, s.detections, s.recall, s.precision);
    }
  }
  PrintFoundPeople(truth, detections);
  PrintFalsePersonBoxes(truth, scene_objects, detections);
  std::printf("Time per frame:\n");
  PrintStage("pre-process", timing.pre);
  PrintStage("network", timing.backbone);
  PrintStage("post-process", timing.post);
  PrintStage("whole pass (Forward)", timing.total);
  return 0;
}
