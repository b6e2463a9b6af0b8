// A bounded FIFO between one producing and one consuming thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace norvel {
namespace utils {

// Raised by BlockingQueue::pop when the queue was closed while it waited with nothing to return.
class QueueClosed : public std::runtime_error {
 public:
  explicit QueueClosed(const std::string& name)
      : std::runtime_error("queue '" + name + "' was closed while waiting for an item") {}
};

// Thread-safe FIFO of bounded length. A push never waits for room: when the queue already holds
// `capacity` items the oldest ones are discarded first (capacity 0: unbounded). A pop waits until
// an item is there. close() ends every wait for good, so that a consumer thread blocked in pop can
// be stopped and joined; items pushed after close() are discarded.
//
// All members are guarded by one mutex; no lock is held while the caller works on an item.
template <typename T>
class BlockingQueue {
 public:
  explicit BlockingQueue(size_t capacity = 0, std::string name = "unknown")
      : capacity_(capacity), name_(std::move(name)) {}

  BlockingQueue(const BlockingQueue&) = delete;
  BlockingQueue& operator=(const BlockingQueue&) = delete;

  virtual void push(const T& item) { emplace(item); }
  virtual void push(T&& item) { emplace(std::move(item)); }

  // Waits until an item is there and removes the oldest. Throws QueueClosed when the queue is
  // closed and empty.
  T pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    not_empty_.wait(lock, [this] { return !items_.empty() || closed_; });
    if (items_.empty()) {
      throw QueueClosed(name_);
    }
    return takeFront();
  }

  // Like pop, but waits at most `timeout`; empty on time-out or when closed and empty.
  template <typename Rep, typename Period>
  std::optional<T> popFor(const std::chrono::duration<Rep, Period>& timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!not_empty_.wait_for(lock, timeout, [this] { return !items_.empty() || closed_; }) ||
        items_.empty()) {
      return std::nullopt;
    }
    return takeFront();
  }

  // Removes the oldest item if there is one; never waits.
  std::optional<T> tryPop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.empty()) {
      return std::nullopt;
    }
    return takeFront();
  }

  // Wakes every waiting pop; from now on pops return what is left and then report the closure.
  void close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    not_empty_.notify_all();
  }

  bool closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  }

  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
  }

  size_t capacity() const { return capacity_; }
  const std::string& name() const { return name_; }

 private:
  template <typename U>
  void emplace(U&& item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) {
        return;
      }
      while (capacity_ != 0 && items_.size() >= capacity_) {
        items_.pop_front();
      }
      items_.push_back(std::forward<U>(item));
    }
    not_empty_.notify_one();
  }

  // Precondition: the lock is held and the queue is not empty.
  T takeFront() {
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

  mutable std::mutex mutex_;
  std::condition_variable not_empty_;
  std::deque<T> items_;
  bool closed_{false};
  const size_t capacity_;
  const std::string name_;
};

}  // namespace utils
}  // namespace norvel
