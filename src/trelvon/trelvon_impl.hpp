// The detector: runs pre-process, backbone and post-process in turn on one cloud.
//
// Owns the three stages (shared pointers, created in Init) and through them every buffer of a
// pass. Invariant after a successful Init: the stages exist and agree on the sizes of the buffers
// passed between them (see CheckStageContract). The box list belongs to the post-process; a
// reference to it is valid until the next Forward or ClearBboxes. One thread per instance.
#pragma once

#include <memory>

#include "trelvon.hpp"

namespace lidar_perception {
namespace trelvon {

class TrelvonImpl : public Trelvon {
 public:
  // Reads the root of trelvon.yaml and builds the stages; false after printing or logging why.
  // yaml-cpp exceptions for missing or ill-typed keys leave the function.
  bool Init(const YAML::Node& root);

  void Forward(const pcl::PointCloud<pcl::PointXYZI>::Ptr& cloud) override;
  void Forward(const pcl::PointCloud<pcl::PointXYZ>::Ptr& cloud) override;
  const std::vector<BBox>& GetBboxes() override { return postprocess->GetBboxes(); }
  bool ClearBboxes() override { return postprocess->ClearBboxes(); }

  std::shared_ptr<PreProcess> preprocess;
  std::shared_ptr<Backbone> backbone;
  std::shared_ptr<PostProcess> postprocess;
  bool enable_timer{false};

 private:
  // The three stages after the pre-process has run; stops after a failed inference with an empty
  // box list, since the output buffers then hold stale or partial results.
  void RunNetworkAndDecode();

  template <typename CloudPtr>
  void ForwardWithTimer(const CloudPtr& cloud);
};

}  // namespace trelvon
}  // namespace lidar_perception
