// BlockingQueue: drop-oldest pushes, blocking pops, and the close() that stops a waiting consumer.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "blocking_queue.hpp"

namespace norvel {
namespace utils {
namespace {

using namespace std::chrono_literals;

std::vector<int> drain(BlockingQueue<int>& queue) {
  std::vector<int> items;
  while (auto item = queue.tryPop()) {
    items.push_back(*item);
  }
  return items;
}

TEST(BlockingQueue, ElevenPushesKeepTheNewestTenInOrder) {
  BlockingQueue<int> queue(10, "unknown");
  for (int i = 1; i <= 11; ++i) {
    queue.push(i);
  }
  EXPECT_EQ(queue.size(), 10u);
  EXPECT_EQ(drain(queue), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST(BlockingQueue, CapacityZeroIsUnboundedAndOneKeepsOnlyTheLatest) {
  {
    BlockingQueue<int> queue(0);
    for (int i = 0; i < 1000; ++i) {
      queue.push(i);
    }
    EXPECT_EQ(queue.size(), 1000u);
    EXPECT_EQ(queue.pop(), 0);
  }
  {
    BlockingQueue<int> queue(1);
    queue.push(1);
    queue.push(2);
    queue.push(3);
    EXPECT_EQ(drain(queue), (std::vector<int>{3}));
  }
}

TEST(BlockingQueue, CopyAndMovePushesBothStoreTheItem) {
  BlockingQueue<std::vector<int>> moving(2);
  std::vector<int> points{1, 2, 3};
  moving.push(std::move(points));
  EXPECT_TRUE(points.empty());  // NOLINT(bugprone-use-after-move): moved into the queue
  EXPECT_EQ(moving.pop(), (std::vector<int>{1, 2, 3}));

  BlockingQueue<std::string> copying(2);
  const std::string text = "boxes";
  copying.push(text);
  EXPECT_EQ(text, "boxes");
  EXPECT_EQ(copying.pop(), "boxes");
}

TEST(BlockingQueue, PopWaitsForAPushFromAnotherThread) {
  BlockingQueue<int> queue(10);
  std::promise<void> waiting;
  auto consumer = std::async(std::launch::async, [&] {
    waiting.set_value();
    return queue.pop();
  });
  waiting.get_future().wait();
  // Whether or not the consumer already sleeps in pop, it can only return what is pushed here.
  queue.push(42);
  ASSERT_EQ(consumer.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(consumer.get(), 42);
  EXPECT_EQ(queue.size(), 0u);
}

TEST(BlockingQueue, CloseWakesAWaitingPop) {
  BlockingQueue<int> queue(10);
  std::promise<void> waiting;
  auto consumer = std::async(std::launch::async, [&] {
    waiting.set_value();
    try {
      queue.pop();
      return std::string("returned an item");
    } catch (const QueueClosed& closed) {
      return std::string(closed.what());
    }
  });
  waiting.get_future().wait();
  queue.close();
  ASSERT_EQ(consumer.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(consumer.get(), "queue 'unknown' was closed while waiting for an item");
}

TEST(BlockingQueue, ClosedQueueHandsOutWhatIsLeftAndTakesNothingNew) {
  BlockingQueue<int> queue(10);
  queue.push(1);
  queue.push(2);
  queue.close();
  queue.push(3);
  EXPECT_TRUE(queue.closed());
  EXPECT_EQ(queue.pop(), 1);
  EXPECT_EQ(queue.popFor(1h), std::optional<int>(2));
  // Closed and empty: no waiting, whatever the time-out.
  EXPECT_EQ(queue.popFor(1h), std::nullopt);
  EXPECT_THROW(queue.pop(), QueueClosed);
}

TEST(BlockingQueue, TimedPopGivesUpOnAnEmptyQueueAndTakesAnItemThatIsThere) {
  BlockingQueue<int> queue(10);
  EXPECT_EQ(queue.popFor(1ms), std::nullopt);
  EXPECT_EQ(queue.popFor(0ms), std::nullopt);
  queue.push(5);
  EXPECT_EQ(queue.popFor(0ms), std::optional<int>(5));
}

TEST(BlockingQueue, ProducerAndConsumerThreadsPassEveryItemInOrderWhenNothingOverflows) {
  BlockingQueue<int> queue(0);
  constexpr int kItems = 2000;
  std::thread producer([&] {
    for (int i = 0; i < kItems; ++i) {
      queue.push(i);
    }
  });
  std::vector<int> received;
  for (int i = 0; i < kItems; ++i) {
    received.push_back(queue.pop());
  }
  producer.join();
  for (int i = 0; i < kItems; ++i) {
    ASSERT_EQ(received[static_cast<size_t>(i)], i);
  }
}

}  // namespace
}  // namespace utils
}  // namespace norvel
