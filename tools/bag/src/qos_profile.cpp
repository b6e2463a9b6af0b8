#include "bag_io/qos_profile.hpp"

#include <fmt/format.h>

namespace bag_io {

std::string offeredQosProfiles(bool transient_local, std::size_t depth) {
  // Numbers are rmw's enums, as rosbag2 writes them: history 1 = keep last, reliability
  // 1 = reliable, durability 1 = transient local / 2 = volatile, liveliness 1 = automatic.
  return fmt::format(
      "- history: 1\n"
      "  depth: {}\n"
      "  reliability: 1\n"
      "  durability: {}\n"
      "  deadline:\n    sec: 0\n    nsec: 0\n"
      "  lifespan:\n    sec: 0\n    nsec: 0\n"
      "  liveliness: 1\n"
      "  liveliness_lease_duration:\n    sec: 0\n    nsec: 0\n"
      "  avoid_ros_namespace_conventions: false\n",
      depth, transient_local ? 1 : 2);
}

}  // namespace bag_io
