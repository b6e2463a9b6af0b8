#include "box_markers.hpp"

#include "box_footprint.hpp"

namespace lidar_perception {
namespace {

geometry_msgs::msg::Point makePoint(const FootprintCorner& corner, float z) {
  geometry_msgs::msg::Point point;
  point.x = corner.x;
  point.y = corner.y;
  point.z = z;
  return point;
}

}  // namespace

visualization_msgs::msg::MarkerArray makeBoxMarkers(const std::vector<trelvon::BBox>& boxes,
                                                    const std::string& frame_id,
                                                    rclcpp::Clock& clock) {
  using visualization_msgs::msg::Marker;
  visualization_msgs::msg::MarkerArray markers;
  markers.markers.reserve(boxes.size() + 1);
  Marker clear_all;
  clear_all.action = Marker::DELETEALL;
  markers.markers.push_back(clear_all);

  for (size_t k = 0; k < boxes.size(); ++k) {
    const trelvon::BBox& box = boxes[k];
    Marker marker;
    marker.header.frame_id = frame_id;
    marker.header.stamp = clock.now();
    marker.ns = "bounding_boxes";
    marker.id = static_cast<int32_t>(k);
    marker.type = Marker::LINE_LIST;
    marker.action = Marker::ADD;
    marker.scale.x = 0.05;
    marker.color.r = 0.0f;
    marker.color.g = 1.0f;
    marker.color.b = 0.0f;
    marker.color.a = 1.0f;
    marker.lifetime = rclcpp::Duration::from_seconds(0.1);

    const BoxFootprint corners = boxFootprint(box);
    const float bottom = box.z;
    const float top = box.z + box.height;
    marker.points.reserve(24);
    for (const float z : {bottom, top}) {
      for (size_t j = 0; j < corners.size(); ++j) {
        marker.points.push_back(makePoint(corners[j], z));
        marker.points.push_back(makePoint(corners[(j + 1) % corners.size()], z));
      }
    }
    for (const FootprintCorner& corner : corners) {
      marker.points.push_back(makePoint(corner, bottom));
      marker.points.push_back(makePoint(corner, top));
    }
    markers.markers.push_back(std::move(marker));
  }
  return markers;
}

}  // namespace lidar_perception
