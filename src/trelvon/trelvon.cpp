#include "trelvon.hpp"

#include <time.h>

#include <cstdio>
#include <string>

#include "logger.hpp"
#include "stage_contract.hpp"
#include "trelvon_impl.hpp"

namespace lidar_perception {
namespace trelvon {
namespace {

double ElapsedMs(const timespec& t0, const timespec& t1) {
  return static_cast<double>(t1.tv_sec - t0.tv_sec) * 1000.0 +
         static_cast<double>(t1.tv_nsec - t0.tv_nsec) * 1e-6;
}

// "<stage> cost time is <ms> ms." with six decimals.
std::string StageTime(const char* stage, const timespec& t0, const timespec& t1) {
  char line[1000];
  std::snprintf(line, sizeof(line), "%s cost time is %f ms.", stage, ElapsedMs(t0, t1));
  return line;
}

// The factory chain reports a missing stage on plain standard output.
bool Failed(const char* message) {
  std::puts(message);
  std::fflush(stdout);
  return false;
}

}  // namespace

bool TrelvonImpl::Init(const YAML::Node& root) {
  enable_timer = root["enable_timer"].as<bool>();
  const bool use_gpu = root["use_gpu"].as<bool>();
  if (use_gpu) {
    LOG_INFO("use gpu to preprocess && postprocess");
  } else {
    LOG_INFO("use cpu to preprocess && postprocess");
  }
  preprocess = CreatePreProcess(root["preprocess"], use_gpu);
  if (preprocess == nullptr) {
    return Failed("Failed to create trelvon preprocess.");
  }
  backbone = CreateBackbone(root["backbone"]);
  if (backbone == nullptr) {
    return Failed("Failed to create trelvon backbone.");
  }
  postprocess = CreatePostProcess(root["postprocess"], use_gpu);
  if (postprocess == nullptr) {
    return Failed("Failed to create trelvon postprocess.");
  }
  return CheckStageContract(root, *preprocess);
}

void TrelvonImpl::RunNetworkAndDecode() {
  if (!backbone->Forward(preprocess->GetVoxels(), preprocess->GetCoors(),
                         preprocess->GetVoxelNum())) {
    postprocess->ClearBboxes();
    return;
  }
  postprocess->Forward(static_cast<const float*>(backbone->GetClsScore()),
                       static_cast<const float*>(backbone->GetBboxPred()),
                       static_cast<const float*>(backbone->GetDirClsPred()));
}

template <typename CloudPtr>
void TrelvonImpl::ForwardWithTimer(const CloudPtr& cloud) {
  timespec t0{};
  timespec t1{};
  clock_gettime(CLOCK_REALTIME, &t0);
  preprocess->Forward(cloud);
  clock_gettime(CLOCK_REALTIME, &t1);
  LOG_INFO("{}", StageTime("trelvon_preprocess", t0, t1));

  clock_gettime(CLOCK_REALTIME, &t0);
  const bool inferred =
      backbone->Forward(preprocess->GetVoxels(), preprocess->GetCoors(), preprocess->GetVoxelNum());
  clock_gettime(CLOCK_REALTIME, &t1);
  LOG_INFO("{}", StageTime("trelvon_backbone", t0, t1));
  if (!inferred) {
    postprocess->ClearBboxes();
    return;
  }

  clock_gettime(CLOCK_REALTIME, &t0);
  postprocess->Forward(static_cast<const float*>(backbone->GetClsScore()),
                       static_cast<const float*>(backbone->GetBboxPred()),
                       static_cast<const float*>(backbone->GetDirClsPred()));
  clock_gettime(CLOCK_REALTIME, &t1);
  LOG_INFO("{}", StageTime("trelvon_postprocess", t0, t1));
}

void TrelvonImpl::Forward(const pcl::PointCloud<pcl::PointXYZI>::Ptr& cloud) {
  if (cloud == nullptr) {
    LOG_ERROR("Trelvon: Forward called without a cloud; no boxes.");
    postprocess->ClearBboxes();
    return;
  }
  if (enable_timer) {
    ForwardWithTimer(cloud);
    return;
  }
  preprocess->Forward(cloud);
  RunNetworkAndDecode();
}

void TrelvonImpl::Forward(const pcl::PointCloud<pcl::PointXYZ>::Ptr& cloud) {
  if (!ClearBboxes()) {
    LOG_ERROR("Trelvon: clear bboxes failed.");
  }
  if (cloud == nullptr) {
    LOG_ERROR("Trelvon: Forward called without a cloud; no boxes.");
    return;
  }
  if (cloud->points.empty()) {
    return;
  }
  if (enable_timer) {
    ForwardWithTimer(cloud);
    return;
  }
  preprocess->Forward(cloud);
  RunNetworkAndDecode();
}

std::shared_ptr<Trelvon> CreateTrelvon(const YAML::Node& root) {
  auto detector = std::make_shared<TrelvonImpl>();
  if (!detector->Init(root)) {
    return nullptr;
  }
  return detector;
}

}  // namespace trelvon
}  // namespace lidar_perception
