// Quality-of-service profiles in rclcpp's builder style.
#pragma once

#include <cstddef>

#include "ros2_core/qos_profile.hpp"

namespace rclcpp {

enum class HistoryPolicy { KeepLast, KeepAll, SystemDefault, Unknown };
enum class ReliabilityPolicy { BestEffort, Reliable, SystemDefault, Unknown };
enum class DurabilityPolicy { Volatile, TransientLocal, SystemDefault, Unknown };

// How the history is initialised: keep last `depth`, or keep all.
struct QoSInitialization {
  QoSInitialization(HistoryPolicy history_policy_arg, size_t depth_arg)
      : history_policy(history_policy_arg), depth(depth_arg) {}
  static QoSInitialization from_rmw(const ros2_core::QosProfile& profile);
  HistoryPolicy history_policy;
  size_t depth;
};

struct KeepAll : public QoSInitialization {
  KeepAll() : QoSInitialization(HistoryPolicy::KeepAll, 0) {}
};

struct KeepLast : public QoSInitialization {
  explicit KeepLast(size_t depth) : QoSInitialization(HistoryPolicy::KeepLast, depth) {}
};

// Value type. Defaults as rclcpp's: reliable, volatile.
class QoS {
 public:
  // Keep last `history_depth`.
  QoS(size_t history_depth);  // NOLINT(runtime/explicit)
  explicit QoS(const QoSInitialization& qos_initialization);

  QoS& history(HistoryPolicy history);
  QoS& keep_last(size_t depth);
  QoS& keep_all();
  QoS& reliability(ReliabilityPolicy reliability);
  QoS& reliable();
  QoS& best_effort();
  QoS& durability(DurabilityPolicy durability);
  QoS& durability_volatile();
  QoS& transient_local();

  HistoryPolicy history() const;
  size_t depth() const { return profile_.depth; }
  ReliabilityPolicy reliability() const;
  DurabilityPolicy durability() const;

  bool operator==(const QoS& rhs) const;
  bool operator!=(const QoS& rhs) const { return !(*this == rhs); }

  // The profile the topic graph works with.
  const ros2_core::QosProfile& get_profile() const { return profile_; }

 private:
  ros2_core::QosProfile profile_;
};

// Keep last 5, best effort, volatile.
class SensorDataQoS : public QoS {
 public:
  explicit SensorDataQoS(const QoSInitialization& qos_initialization = KeepLast(5));
};

// Keep last 1000, reliable, volatile.
class ParametersQoS : public QoS {
 public:
  explicit ParametersQoS(const QoSInitialization& qos_initialization = KeepLast(1000));
};

// Keep last 10, reliable, volatile.
class ServicesQoS : public QoS {
 public:
  explicit ServicesQoS(const QoSInitialization& qos_initialization = KeepLast(10));
};

// The middleware defaults, which here are keep last 10, reliable, volatile.
class SystemDefaultsQoS : public QoS {
 public:
  explicit SystemDefaultsQoS(const QoSInitialization& qos_initialization = KeepLast(10));
};

}  // namespace rclcpp
