// Point clouds between two processes over the DDS transport: a publisher at a fixed rate, a
// subscriber in a forked process; prints how many arrived and the publication-to-callback
// latency.
//
//   build/bench/ros2/transport_benchmark [--bytes N] [--rate HZ] [--count N] [--depth N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sensor_msgs/msg/point_cloud2.hpp>

#include "bench_program.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

using Clock = std::chrono::system_clock;

constexpr const char* kUsage =
    "usage: transport_benchmark [--bytes N] [--rate HZ] [--count N] [--depth N]\n"
    "  Publishes --count point clouds of --bytes (default 1048576) at --rate (default 100) Hz,\n"
    "  reliable, keep-last --depth (default 5), to a subscriber in another process, and prints\n"
    "  the number received and the latency from publication to the subscriber's callback.\n";

std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

double percentile(std::vector<double> values, double q) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

// The forked subscriber: writes one latency in milliseconds per received cloud to `out`.
int run_subscriber(int out, std::size_t depth, int count) {
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("transport_benchmark_subscriber");
  int received = 0;
  auto sub = node->create_subscription<sensor_msgs::msg::PointCloud2>(
      "/benchmark_cloud", rclcpp::QoS(depth).reliable(),
      [&](const sensor_msgs::msg::PointCloud2& cloud) {
        const std::int64_t sent =
            std::int64_t{cloud.header.stamp.sec} * 1000000000 + cloud.header.stamp.nanosec;
        const double latency_ms = static_cast<double>(now_ns() - sent) / 1e6;
        if (write(out, &latency_ms, sizeof(latency_ms)) != sizeof(latency_ms)) {
          rclcpp::shutdown();
        }
        if (++received == count) {
          rclcpp::shutdown();
        }
      });
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (bench::helpRequested(argc, argv, kUsage)) {
    return 0;
  }
  std::size_t bytes = 1 << 20;
  double rate = 100.0;
  int count = 1000;
  std::size_t depth = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--bytes") {
      bytes = std::strtoul(argv[i + 1], nullptr, 10);
    } else if (arg == "--rate") {
      rate = std::strtod(argv[i + 1], nullptr);
    } else if (arg == "--count") {
      count = std::atoi(argv[i + 1]);
    } else if (arg == "--depth") {
      depth = std::strtoul(argv[i + 1], nullptr, 10);
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (bytes < 16 || rate <= 0.0 || count <= 0 || depth == 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  int results[2];
  if (pipe(results) != 0) {
    std::perror("transport_benchmark: pipe");
    return 1;
  }
  // Fork before anything starts threads in this process.
  const pid_t child = fork();
  if (child == 0) {
    close(results[0]);
    _exit(run_subscriber(results[1], depth, count));
  }
  close(results[1]);

  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("transport_benchmark_publisher");
  auto pub = node->create_publisher<sensor_msgs::msg::PointCloud2>("/benchmark_cloud",
                                                                   rclcpp::QoS(depth).reliable());
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = "lidar";
  cloud.height = 1;
  cloud.point_step = 16;
  cloud.width = static_cast<std::uint32_t>(bytes / cloud.point_step);
  cloud.row_step = cloud.width * cloud.point_step;
  cloud.data.assign(cloud.row_step, 0x5a);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (pub->get_subscription_count() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::printf("transport_benchmark: %d clouds of %zu bytes at %.0f Hz, reliable, depth %zu\n",
              count, cloud.data.size(), rate, depth);
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / rate));
  auto next = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    std::this_thread::sleep_until(next);
    next += period;
    const std::int64_t stamp = now_ns();
    cloud.header.stamp.sec = static_cast<std::int32_t>(stamp / 1000000000);
    cloud.header.stamp.nanosec = static_cast<std::uint32_t>(stamp % 1000000000);
    pub->publish(cloud);
  }
  // Give the last clouds time to arrive, then stop the subscriber if it still waits.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  kill(child, SIGINT);
  std::vector<double> latencies;
  double latency = 0.0;
  while (read(results[0], &latency, sizeof(latency)) == sizeof(latency)) {
    latencies.push_back(latency);
  }
  int status = 0;
  waitpid(child, &status, 0);
  rclcpp::shutdown();
  std::printf("transport_benchmark: received %zu of %d (%.1f %%)\n", latencies.size(), count,
              100.0 * static_cast<double>(latencies.size()) / count);
  std::printf("transport_benchmark: latency p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
              percentile(latencies, 0.5), percentile(latencies, 0.99),
              percentile(latencies, 1.0));
  return 0;
}
