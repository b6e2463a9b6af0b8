#include "rclcpp/qos.hpp"

namespace rclcpp {

QoSInitialization QoSInitialization::from_rmw(const ros2_core::QosProfile& profile) {
  if (profile.history == ros2_core::History::KeepAll) {
    return KeepAll();
  }
  return KeepLast(profile.depth);
}

QoS::QoS(size_t history_depth) : QoS(KeepLast(history_depth)) {}

QoS::QoS(const QoSInitialization& qos_initialization) {
  if (qos_initialization.history_policy == HistoryPolicy::KeepAll) {
    keep_all();
  } else {
    keep_last(qos_initialization.depth);
  }
}

QoS& QoS::history(HistoryPolicy history) {
  profile_.history = history == HistoryPolicy::KeepAll ? ros2_core::History::KeepAll
                                                       : ros2_core::History::KeepLast;
  return *this;
}

QoS& QoS::keep_last(size_t depth) {
  profile_.history = ros2_core::History::KeepLast;
  profile_.depth = depth;
  return *this;
}

QoS& QoS::keep_all() {
  profile_.history = ros2_core::History::KeepAll;
  profile_.depth = 0;
  return *this;
}

QoS& QoS::reliability(ReliabilityPolicy reliability) {
  profile_.reliability = reliability == ReliabilityPolicy::BestEffort
                             ? ros2_core::Reliability::BestEffort
                             : ros2_core::Reliability::Reliable;
  return *this;
}

QoS& QoS::reliable() {
  return reliability(ReliabilityPolicy::Reliable);
}
QoS& QoS::best_effort() {
  return reliability(ReliabilityPolicy::BestEffort);
}

QoS& QoS::durability(DurabilityPolicy durability) {
  profile_.durability = durability == DurabilityPolicy::TransientLocal
                            ? ros2_core::Durability::TransientLocal
                            : ros2_core::Durability::Volatile;
  return *this;
}

QoS& QoS::durability_volatile() {
  return durability(DurabilityPolicy::Volatile);
}
QoS& QoS::transient_local() {
  return durability(DurabilityPolicy::TransientLocal);
}

HistoryPolicy QoS::history() const {
  return profile_.history == ros2_core::History::KeepAll ? HistoryPolicy::KeepAll
                                                         : HistoryPolicy::KeepLast;
}

ReliabilityPolicy QoS::reliability() const {
  return profile_.reliability == ros2_core::Reliability::BestEffort ? ReliabilityPolicy::BestEffort
                                                                    : ReliabilityPolicy::Reliable;
}

DurabilityPolicy QoS::durability() const {
  return profile_.durability == ros2_core::Durability::TransientLocal
             ? DurabilityPolicy::TransientLocal
             : DurabilityPolicy::Volatile;
}

bool QoS::operator==(const QoS& rhs) const {
  return profile_.history == rhs.profile_.history && profile_.depth == rhs.profile_.depth &&
         profile_.reliability == rhs.profile_.reliability &&
         profile_.durability == rhs.profile_.durability;
}

SensorDataQoS::SensorDataQoS(const QoSInitialization& qos_initialization)
    : QoS(qos_initialization) {
  best_effort();
  durability_volatile();
}

ParametersQoS::ParametersQoS(const QoSInitialization& qos_initialization)
    : QoS(qos_initialization) {}

ServicesQoS::ServicesQoS(const QoSInitialization& qos_initialization) : QoS(qos_initialization) {}

SystemDefaultsQoS::SystemDefaultsQoS(const QoSInitialization& qos_initialization)
    : QoS(qos_initialization) {}

}  // namespace rclcpp
