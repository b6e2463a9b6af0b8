// A fixed-size, zero-filled block on the C heap, owned by one object.
//
// The stages size their large buffers once at creation; this type owns such a block and frees it
// when the owner is destroyed. Not copyable (one owner); movable. The size never changes, so
// `data()` stays valid for the object's lifetime.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace lidar_perception {
namespace trelvon {

template <typename T>
class CHeapBuffer {
 public:
  CHeapBuffer() = default;

  // Allocates `count` zero elements; throws std::bad_alloc when the heap refuses.
  explicit CHeapBuffer(std::size_t count)
      : block_(static_cast<T*>(std::calloc(count == 0 ? 1 : count, sizeof(T)))), count_(count) {
    if (block_ == nullptr) {
      throw std::bad_alloc();
    }
  }

  T* data() const { return block_.get(); }
  std::size_t size() const { return count_; }
  T& operator[](std::size_t i) const { return block_.get()[i]; }

 private:
  struct Free {
    void operator()(T* block) const { std::free(block); }
  };
  std::unique_ptr<T, Free> block_;
  std::size_t count_{0};
};

}  // namespace trelvon
}  // namespace lidar_perception
