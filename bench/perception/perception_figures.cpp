// Quality and speed figures of the perception library on simulated scenarios, next to a
// baseline built from PCL's standard components (RANSAC plane + Euclidean clustering) on the
// same camera clouds in the same run.
//
// Usage: perception_figures [max_frames_per_scenario] [scenario.yaml ...]
// Without scenarios it runs every scenario shipped in tools/scenarios, and those of
// tools/scenarios/held_out (never used to tune anything) pooled on their own as well.
#include <lidar_sim/lidar_simulator.hpp>
#include <lidar_sim/scenario.hpp>
#include <norvel/perception/cloud_cluster.hpp>
#include <norvel/perception/dynamic_cloud_detector.hpp>
#include <norvel/perception/moving_body_split.hpp>
#include <norvel/perception/remove_ground_line_fit.hpp>

#include <pcl/ModelCoefficients.h>
#include <pcl/PointIndices.h>
#include <pcl/console/print.h>
#include <pcl/search/kdtree.h>
#include <pcl/segmentation/extract_clusters.h>
#include <pcl/segmentation/sac_segmentation.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_program.hpp"

#include "camera_cloud.hpp"
#include "cluster_completeness.hpp"

namespace {

using norvel::perception::PointCloud;
using norvel::perception::PointCloudPtr;
using perception_bench::CameraCloud;
using perception_bench::ClusterCompleteness;
using perception_bench::ObjectKey;
using Clock = std::chrono::steady_clock;

constexpr float kDynamicRatio = 0.7F;  // the node's default split thresholds
constexpr float kStaticRatio = 0.3F;
// Structure key of the building's walls in the purity count (truth ids are 16-bit, >= 0).
constexpr int kBuildingWalls = -1;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Point coordinates as a key, to find a returned point's input index.
struct PointKey {
  std::uint32_t x, y, z;
  bool operator==(const PointKey& o) const { return x == o.x && y == o.y && z == o.z; }
};
struct PointKeyHash {
  std::size_t operator()(const PointKey& k) const {
    return (static_cast<std::size_t>(k.x) * 73856093U) ^
           (static_cast<std::size_t>(k.y) * 19349663U) ^
           (static_cast<std::size_t>(k.z) * 83492791U);
  }
};
PointKey keyOf(const pcl::PointXYZ& p) {
  PointKey k{};
  std::memcpy(&k.x, &p.x, 4);
  std::memcpy(&k.y, &p.y, 4);
  std::memcpy(&k.z, &p.z, 4);
  return k;
}

// What a pipeline says about one camera cloud, per input index.
struct Result {
  std::vector<bool> ground;
  std::vector<int> cluster;   // -1: not in any reported cluster
  std::vector<bool> dynamic;  // only meaningful where cluster >= 0
};

struct Figures {
  long tp_ground{0}, fp_ground{0}, fn_ground{0};
  long obstacle_total{0}, obstacle_kept{0};
  // Cluster purity: points in their cluster's majority object over all clustered points. The
  // simulator gives every wall segment of a building its own id, but walls that meet at a
  // corner are one continuous structure no clusterer should cut; the first figure counts the
  // building's walls as one structure, the second (raw) each segment as its own object.
  long clustered{0}, cluster_majority{0}, cluster_majority_raw{0};
  ClusterCompleteness completeness;
  long tp_dyn{0}, fp_dyn{0}, fn_dyn{0}, static_total{0};
  // Agents standing still (the simulator labels them dynamic): a motion detector cannot see them
  // move, so they are kept out of the dynamic F1 and reported on their own.
  long standing_total{0}, standing_dynamic{0};
  double ms_ground{0}, ms_cluster{0}, ms_dynamic{0};
  long camera_clouds{0};  // four per frame
  long points{0};
  long obstacle_points{0};  // what ground removal left, the clusterer's and detector's input

  // `scenario`, `frame` and `camera` tell apart objects that share a truth id.
  void add(const CameraCloud& in, const Result& r, int scenario, long frame, int camera) {
    ++camera_clouds;
    points += static_cast<long>(in.truth.size());
    std::map<int, std::map<int, long>> cluster_objects;
    std::map<int, std::map<int, long>> cluster_structures;
    for (std::size_t i = 0; i < in.truth.size(); ++i) {
      const auto& t = in.truth[i];
      const bool truly_ground = t.label == lidar_sim::PointLabel::kGround;
      tp_ground += (r.ground[i] && truly_ground) ? 1 : 0;
      fp_ground += (r.ground[i] && !truly_ground) ? 1 : 0;
      fn_ground += (!r.ground[i] && truly_ground) ? 1 : 0;
      if (!truly_ground && in.cloud->points[i].z > 0.05F) {
        ++obstacle_total;
        obstacle_kept += r.ground[i] ? 0 : 1;
      }
      if (truly_ground) {
        continue;
      }
      completeness.addPoint(ObjectKey{scenario, frame, camera, t.object_id}, r.cluster[i]);
      if (r.cluster[i] >= 0) {
        ++cluster_objects[r.cluster[i]][t.object_id];
        ++cluster_structures[r.cluster[i]][t.wall ? kBuildingWalls : t.object_id];
        // Moving agents against static structure; standing agents are counted apart.
        const bool is_static = t.label == lidar_sim::PointLabel::kStatic;
        if (t.label == lidar_sim::PointLabel::kDynamic && !t.moving) {
          ++standing_total;
          standing_dynamic += r.dynamic[i] ? 1 : 0;
        }
        if (t.moving || is_static) {
          static_total += is_static ? 1 : 0;
          tp_dyn += (r.dynamic[i] && t.moving) ? 1 : 0;
          fp_dyn += (r.dynamic[i] && is_static) ? 1 : 0;
          fn_dyn += (!r.dynamic[i] && t.moving) ? 1 : 0;
        }
      }
    }
    auto largest = [](const std::map<int, long>& counts, long& total) {
      long best = 0;
      for (const auto& o : counts) {
        total += o.second;
        best = std::max(best, o.second);
      }
      return best;
    };
    for (const auto& c : cluster_objects) {
      long total = 0;
      cluster_majority_raw += largest(c.second, total);
      clustered += total;
    }
    for (const auto& c : cluster_structures) {
      long total = 0;
      cluster_majority += largest(c.second, total);
    }
  }

  // Adds the stage times of a scenario's run.
  void addTimes(const Figures& scenario) {
    ms_ground += scenario.ms_ground;
    ms_cluster += scenario.ms_cluster;
    ms_dynamic += scenario.ms_dynamic;
  }

  void print(const char* name) const {
    auto f1 = [](long tp, long fp, long fn) {
      return tp == 0 ? 0.0 : 2.0 * tp / (2.0 * tp + fp + fn);
    };
    std::printf(
        "  %-9s ground P %.4f R %.4f F1 %.4f | obstacle>5cm recall %.4f | cluster purity "
        "%.4f (raw %.4f) completeness %.4f | "
        "dynamic F1 %.4f (P %.4f R %.4f) false-dynamic %.4f%% | "
        "standing agents called dynamic %.2f%% of %ld | "
        "ms per camera cloud ground %.3f cluster %.3f dynamic %.3f total %.3f\n",
        name, tp_ground / double(std::max(1L, tp_ground + fp_ground)),
        tp_ground / double(std::max(1L, tp_ground + fn_ground)),
        f1(tp_ground, fp_ground, fn_ground), obstacle_kept / double(std::max(1L, obstacle_total)),
        cluster_majority / double(std::max(1L, clustered)),
        cluster_majority_raw / double(std::max(1L, clustered)), completeness.value(),
        f1(tp_dyn, fp_dyn, fn_dyn), tp_dyn / double(std::max(1L, tp_dyn + fp_dyn)),
        tp_dyn / double(std::max(1L, tp_dyn + fn_dyn)),
        100.0 * fp_dyn / double(std::max(1L, static_total)),
        100.0 * standing_dynamic / double(std::max(1L, standing_total)), standing_total,
        ms_ground / camera_clouds, ms_cluster / camera_clouds, ms_dynamic / camera_clouds,
        (ms_ground + ms_cluster + ms_dynamic) / camera_clouds);
  }
};

// The node's share rule: the whole cluster by its dynamic share, per point in between.
void applyShareRule(const PointCloud& cluster, const PointCloud& dynamic,
                    const std::unordered_map<PointKey, std::size_t, PointKeyHash>& index_of,
                    Result& r) {
  const float ratio = static_cast<float>(dynamic.size()) / static_cast<float>(cluster.size());
  if (ratio > kDynamicRatio || ratio < kStaticRatio) {
    for (const auto& p : cluster.points) {
      r.dynamic[index_of.at(keyOf(p))] = ratio > kDynamicRatio;
    }
  } else {
    for (const auto& p : dynamic.points) {
      r.dynamic[index_of.at(keyOf(p))] = true;
    }
  }
}

// A cluster, or a part of one, with the points the motion detector called dynamic in it.
struct SplitPart {
  PointCloudPtr cluster;
  PointCloudPtr dynamic;
};

// Splits clusters as the node does: a cluster that the share rule would call static first gives
// up the moving bodies in it. Only the detector's work happens here, so that its timing holds
// nothing of the figures' own book-keeping (see timedSplit).
std::vector<SplitPart> splitClusters(norvel::perception::DynamicCloudDetector& detector,
                                     const std::vector<PointCloudPtr>& clusters) {
  std::vector<SplitPart> split;
  for (const PointCloudPtr& cluster : clusters) {
    auto dynamic = std::make_shared<PointCloud>();
    PointCloud static_cloud;
    detector.DivideCloud(*cluster, *dynamic, static_cloud);
    const float ratio = static_cast<float>(dynamic->size()) / static_cast<float>(cluster->size());
    if (ratio < kStaticRatio) {
      const auto parts = norvel::perception::separateMovingBodies(
          *cluster, *dynamic, norvel::perception::MovingBodySettings{});
      for (const auto& part : parts) {
        split.push_back(SplitPart{part.cluster, part.dynamic_part});
      }
      if (!parts.empty()) {
        continue;
      }
    }
    split.push_back(SplitPart{cluster, dynamic});
  }
  return split;
}

// Splits the clusters, timed as the dynamic stage, then records each part by the share rule into
// the per-point result, untimed.
void timedSplit(norvel::perception::DynamicCloudDetector& detector,
                const std::vector<PointCloudPtr>& clusters, Figures& fig, Result& r,
                const std::unordered_map<PointKey, std::size_t, PointKeyHash>& index_of) {
  const auto t0 = Clock::now();
  const std::vector<SplitPart> split = splitClusters(detector, clusters);
  fig.ms_dynamic += msSince(t0);
  for (const SplitPart& part : split) {
    applyShareRule(*part.cluster, *part.dynamic, index_of, r);
  }
}

// Each pipeline runs a frame in two steps, as the node does: every camera's ground, clusters and
// motion-detector update first, then every camera's split, since the cameras' detectors share
// their histories.
struct OurPipeline {
  norvel::perception::RemoveGroundLineFit remover{norvel::perception::GroundRemovalParams{}};
  norvel::perception::CloudCluster clusterer{norvel::perception::CloudClusterPara{}};
  std::shared_ptr<norvel::perception::DynamicCloudDetector> detector;
  std::vector<PointCloudPtr> clusters;

  void update(const CameraCloud& in, const Eigen::Matrix4f& base_to_map, Figures& fig, Result& r,
              const std::unordered_map<PointKey, std::size_t, PointKeyHash>& index_of) {
    auto obstacles = std::make_shared<PointCloud>();
    auto ground = std::make_shared<PointCloud>();
    auto t0 = Clock::now();
    remover.removeGround(in.cloud, obstacles, ground);
    fig.ms_ground += msSince(t0);
    fig.obstacle_points += static_cast<long>(obstacles->size());
    for (const auto& p : ground->points) {
      r.ground[index_of.at(keyOf(p))] = true;
    }
    t0 = Clock::now();
    clusters.clear();
    int count = 0;
    clusterer.obstacleCluster(obstacles, count, clusters);
    fig.ms_cluster += msSince(t0);
    for (std::size_t c = 0; c < clusters.size(); ++c) {
      for (const auto& p : clusters[c]->points) {
        r.cluster[index_of.at(keyOf(p))] = static_cast<int>(c);
      }
    }
    t0 = Clock::now();
    detector->Update(obstacles, base_to_map, false, ground);
    fig.ms_dynamic += msSince(t0);
  }

  void split(Figures& fig, Result& r,
             const std::unordered_map<PointKey, std::size_t, PointKeyHash>& index_of) {
    timedSplit(*detector, clusters, fig, r, index_of);
  }
};

struct PclBaseline {
  std::shared_ptr<norvel::perception::DynamicCloudDetector> detector;
  std::vector<PointCloudPtr> clusters;

  void update(const CameraCloud& in, const Eigen::Matrix4f& base_to_map, Figures& fig, Result& r,
              const std::unordered_map<PointKey, std::size_t, PointKeyHash>& index_of) {
    auto t0 = Clock::now();
    pcl::PointIndices inliers;
    pcl::ModelCoefficients coefficients;
    if (in.cloud->size() >= 3) {
      pcl::SACSegmentation<pcl::PointXYZ> sac;
      sac.setModelType(pcl::SACMODEL_PERPENDICULAR_PLANE);
      sac.setAxis(Eigen::Vector3f::UnitZ());
      sac.setEpsAngle(0.15);
      sac.setMethodType(pcl::SAC_RANSAC);
      sac.setDistanceThreshold(0.045);
      sac.setMaxIterations(100);
      sac.setInputCloud(in.cloud);
      sac.segment(inliers, coefficients);
    }
    auto obstacles = std::make_shared<PointCloud>();
    auto ground = std::make_shared<PointCloud>();
    std::vector<bool> is_inlier(in.cloud->size(), false);
    for (int i : inliers.indices) {
      is_inlier[static_cast<std::size_t>(i)] = true;
    }
    for (std::size_t i = 0; i < in.cloud->size(); ++i) {
      (is_inlier[i] ? ground : obstacles)->points.push_back(in.cloud->points[i]);
    }
    obstacles->width = static_cast<std::uint32_t>(obstacles->size());
    obstacles->height = 1;
    fig.ms_ground += msSince(t0);
    for (std::size_t i = 0; i < in.cloud->size(); ++i) {
      r.ground[i] = is_inlier[i];
    }
    t0 = Clock::now();
    clusters.clear();
    if (!obstacles->empty()) {
      auto tree = std::make_shared<pcl::search::KdTree<pcl::PointXYZ>>();
      tree->setInputCloud(obstacles);
      std::vector<pcl::PointIndices> cluster_indices;
      pcl::EuclideanClusterExtraction<pcl::PointXYZ> ec;
      ec.setClusterTolerance(0.2);  // about the grid's reach: 0.15 m cells, 3 x 3 kernel
      ec.setMinClusterSize(3);
      ec.setSearchMethod(tree);
      ec.setInputCloud(obstacles);
      ec.extract(cluster_indices);
      for (const auto& ci : cluster_indices) {
        auto cluster = std::make_shared<PointCloud>();
        for (int i : ci.indices) {
          cluster->points.push_back(obstacles->points[static_cast<std::size_t>(i)]);
        }
        clusters.push_back(cluster);
      }
    }
    fig.ms_cluster += msSince(t0);
    for (std::size_t c = 0; c < clusters.size(); ++c) {
      for (const auto& p : clusters[c]->points) {
        r.cluster[index_of.at(keyOf(p))] = static_cast<int>(c);
      }
    }
    t0 = Clock::now();
    detector->Update(obstacles, base_to_map, false, ground);
    fig.ms_dynamic += msSince(t0);
  }

  void split(Figures& fig, Result& r,
             const std::unordered_map<PointKey, std::size_t, PointKeyHash>& index_of) {
    timedSplit(*detector, clusters, fig, r, index_of);
  }
};

// One camera's cloud of the current frame, its points' indices and both pipelines' results.
struct CameraWork {
  CameraCloud cloud;
  std::unordered_map<PointKey, std::size_t, PointKeyHash> index_of;
  Result ours;
  Result pcl;
};

}  // namespace

int main(int argc, char** argv) {
  if (bench::helpRequested(
          argc, argv,
          "usage: perception_figures [MAX_FRAMES_PER_SCENARIO] [SCENARIO.yaml ...]\n"
          "  ground, cluster and dynamic/static quality against the simulator's "
          "truth, with a PCL\n  baseline, per scenario and pooled (default: 200 "
          "frames of every shipped scenario)\n")) {
    return 0;
  }
  // The baseline's RANSAC reports every frame without a plane on stderr; its figures say enough.
  pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS);
  long max_frames = 200;
  std::vector<std::string> scenarios;
  if (argc > 1) {
    max_frames = std::strtol(argv[1], nullptr, 10);
  }
  for (int i = 2; i < argc; ++i) {
    scenarios.emplace_back(argv[i]);
  }
  std::size_t first_held_out = std::string::npos;
  if (scenarios.empty()) {
    for (const char* name :
         {"office_crossing", "corridor", "crowded_hall", "standing_person", "receding_aisle",
          "high_mount_office", "flipped_corridor", "tilted_low_lobby"}) {
      scenarios.push_back(std::string(PERCEPTION_SCENARIO_DIR) + "/" + name + ".yaml");
    }
    first_held_out = scenarios.size();
    for (const char* name : {"held_out_warehouse", "held_out_cafe"}) {
      scenarios.push_back(std::string(PERCEPTION_SCENARIO_DIR) + "/held_out/" + name + ".yaml");
    }
  }
  Figures ours_all;
  Figures pcl_all;
  Figures ours_held_out;
  for (std::size_t scenario_index = 0; scenario_index < scenarios.size(); ++scenario_index) {
    const std::string& path = scenarios[scenario_index];
    const int si = static_cast<int>(scenario_index);
    lidar_sim::Scenario scenario;
    try {
      scenario = lidar_sim::loadScenario(path);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "perception_figures: %s\n", e.what());
      return 1;
    }
    const bool held_out = scenario_index >= first_held_out;
    lidar_sim::LidarSimulator simulator(scenario);
    const Eigen::Matrix4f lidar_to_base = scenario.lidar.mount.matrix().cast<float>();
    // Four cameras around the robot, each the node's default 90-degree camera turned.
    std::vector<norvel::perception::CameraInfo> cameras;
    std::vector<OurPipeline> ours(4);
    std::vector<PclBaseline> pcl_runs(4);
    std::vector<std::shared_ptr<norvel::perception::DynamicCloudDetector>> our_detectors;
    std::vector<std::shared_ptr<norvel::perception::DynamicCloudDetector>> pcl_detectors;
    for (int c = 0; c < 4; ++c) {
      const float start = static_cast<float>(c * M_PI / 2);
      cameras.push_back(perception_bench::makeCamera(start, start + static_cast<float>(M_PI / 2),
                                                     lidar_to_base, c));
      ours[c].detector =
          std::make_shared<norvel::perception::DynamicCloudDetector>(PERCEPTION_YAML);
      ours[c].detector->Init(cameras[c]);
      our_detectors.push_back(ours[c].detector);
      pcl_runs[c].detector =
          std::make_shared<norvel::perception::DynamicCloudDetector>(PERCEPTION_YAML);
      pcl_runs[c].detector->Init(cameras[c]);
      pcl_detectors.push_back(pcl_runs[c].detector);
    }
    for (int c = 0; c < 4; ++c) {
      ours[c].detector->ShareHistoryWith(our_detectors);
      pcl_runs[c].detector->ShareHistoryWith(pcl_detectors);
    }
    Figures ours_fig;
    Figures pcl_fig;
    lidar_sim::SimulatedFrame frame;
    std::vector<CameraWork> work(4);
    const long frames = std::min<long>(max_frames, simulator.frameCount());
    double floor_z_sum = 0.0;
    long floor_count = 0;
    std::printf("%s: %ld frames ...\n", scenario.name.c_str(), frames);
    std::fflush(stdout);
    for (long k = 0; k < frames; ++k) {
      if (k > 0 && k % 50 == 0) {
        std::printf("  frame %ld of %ld\n", k, frames);
        std::fflush(stdout);
      }
      simulator.simulateFrame(static_cast<std::uint32_t>(k), frame);
      const Eigen::Matrix4f base_to_map = frame.map_to_base.matrix().cast<float>();
      for (int c = 0; c < 4; ++c) {
        CameraWork& w = work[c];
        perception_bench::prepareCameraCloud(frame, cameras[c], w.cloud);
        w.index_of.clear();
        w.index_of.reserve(w.cloud.cloud->size());
        for (std::size_t i = 0; i < w.cloud.cloud->size(); ++i) {
          w.index_of.emplace(keyOf(w.cloud.cloud->points[i]), i);
          if (w.cloud.truth[i].label == lidar_sim::PointLabel::kGround) {
            floor_z_sum += w.cloud.cloud->points[i].z;
            ++floor_count;
          }
        }
        const std::size_t n = w.cloud.cloud->size();
        w.ours = Result{std::vector<bool>(n, false), std::vector<int>(n, -1),
                        std::vector<bool>(n, false)};
        w.pcl = w.ours;
        ours[c].update(w.cloud, base_to_map, ours_fig, w.ours, w.index_of);
        pcl_runs[c].update(w.cloud, base_to_map, pcl_fig, w.pcl, w.index_of);
      }
      for (int c = 0; c < 4; ++c) {
        CameraWork& w = work[c];
        ours[c].split(ours_fig, w.ours, w.index_of);
        ours_fig.add(w.cloud, w.ours, si, k, c);
        ours_all.add(w.cloud, w.ours, si, k, c);
        if (held_out) {
          ours_held_out.add(w.cloud, w.ours, si, k, c);
        }
        pcl_runs[c].split(pcl_fig, w.pcl, w.index_of);
        pcl_fig.add(w.cloud, w.pcl, si, k, c);
        pcl_all.add(w.cloud, w.pcl, si, k, c);
      }
    }
    ours_all.addTimes(ours_fig);
    if (held_out) {
      ours_held_out.addTimes(ours_fig);
    }
    pcl_all.addTimes(pcl_fig);
    std::printf(
        "%s: %ld frames x 4 cameras, %.0f points per camera cloud (%.0f obstacle), mean floor z "
        "%.4f m\n",
        scenario.name.c_str(), frames,
        ours_fig.points / double(std::max(1L, ours_fig.camera_clouds)),
        ours_fig.obstacle_points / double(std::max(1L, ours_fig.camera_clouds)),
        floor_z_sum / double(std::max(1L, floor_count)));
    ours_fig.print("ours");
    pcl_fig.print("pcl");
  }
  std::printf("all scenarios:\n");
  ours_all.print("ours");
  pcl_all.print("pcl");
  if (ours_held_out.camera_clouds > 0) {
    std::printf("held-out scenarios:\n");
    ours_held_out.print("ours");
  }
  return 0;
}
