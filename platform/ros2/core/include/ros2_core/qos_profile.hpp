// Quality-of-service settings of one publisher or subscription, and the matching rule between them.
#pragma once

#include <cstddef>
#include <string>

namespace ros2_core {

enum class History { KeepLast, KeepAll };
enum class Reliability { Reliable, BestEffort };
enum class Durability { Volatile, TransientLocal };

// The settings the in-process graph honours. `depth` bounds the undelivered messages a
// subscription holds and the history a transient-local publisher keeps; it is ignored
// under KeepAll.
struct QosProfile {
  History history{History::KeepLast};
  std::size_t depth{10};
  Reliability reliability{Reliability::Reliable};
  Durability durability{Durability::Volatile};
};

// Returns the name of the policy that keeps `offered` (a publisher) from serving
// `requested` (a subscription), as DDS names it, or an empty string when they match:
// a best-effort publisher cannot serve a reliable subscription, and a volatile publisher
// cannot serve a transient-local one.
std::string incompatible_policy(const QosProfile& offered, const QosProfile& requested);

// Number of messages a keep-last queue or history may hold; 0 means unbounded.
std::size_t queue_limit(const QosProfile& profile);

}  // namespace ros2_core
