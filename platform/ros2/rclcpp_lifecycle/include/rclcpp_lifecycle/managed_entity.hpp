// Entities switched on and off with the node's active state.
#pragma once

#include <atomic>

namespace rclcpp_lifecycle {

class ManagedEntityInterface {
 public:
  virtual ~ManagedEntityInterface() = default;
  virtual void on_activate() = 0;
  virtual void on_deactivate() = 0;
};

// An activation flag, safe to read from any thread.
class SimpleManagedEntity : public ManagedEntityInterface {
 public:
  ~SimpleManagedEntity() override = default;
  void on_activate() override { activated_.store(true); }
  void on_deactivate() override { activated_.store(false); }
  bool is_activated() const { return activated_.load(); }

 private:
  std::atomic<bool> activated_{false};
};

}  // namespace rclcpp_lifecycle
