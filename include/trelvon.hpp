// libtrelvon: a pillar-based 3-D box detector for lidar point clouds.
//
// CreateTrelvon builds the detector from the root of a trelvon.yaml file; per frame the caller
// runs Forward on a cloud and then reads GetBboxes, copying the list before the next Forward.
// The stage headers included below declare the stage interfaces and their factories.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <yaml-cpp/yaml.h>

#include <memory>
#include <vector>

#include "trelvon/backbone.hpp"
#include "trelvon/bbox.hpp"
#include "trelvon/box_overlap.hpp"
#include "trelvon/export.hpp"
#include "trelvon/postprocess.hpp"
#include "trelvon/preprocess.hpp"

namespace lidar_perception {
namespace trelvon {

// The detector. All calls on one instance come from one thread; the reference GetBboxes returns
// is valid until the next Forward or ClearBboxes.
class TRELVON_EXPORT Trelvon {
 public:
  // Runs pre-process, network and post-process on an intensity-carrying cloud; the box list is
  // replaced (emptied when the inference fails).
  virtual void Forward(const pcl::PointCloud<pcl::PointXYZI>::Ptr& cloud) = 0;
  // Empties the box list, then runs the three stages unless the cloud has no points.
  virtual void Forward(const pcl::PointCloud<pcl::PointXYZ>::Ptr& cloud) = 0;
  // Boxes of the last pass, by descending score.
  virtual const std::vector<BBox>& GetBboxes() = 0;
  // Empties the box list; false if that failed.
  virtual bool ClearBboxes() = 0;
  virtual ~Trelvon() = default;
};

// Builds the detector from the root of trelvon.yaml. Returns an empty pointer when a stage cannot
// be created (after printing which one) or the stages do not fit together (after an error line
// naming the entry). Missing or ill-typed keys throw yaml-cpp's exceptions.
TRELVON_EXPORT std::shared_ptr<Trelvon> CreateTrelvon(const YAML::Node& root);

}  // namespace trelvon
}  // namespace lidar_perception
