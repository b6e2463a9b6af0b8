// Prints serialize and deserialize times of ros2_core's CDR code for a 1 MB PointCloud2 (one
// byte block), and for a Livox CustomMsg whose points are nested messages (element by element).
// Usage: ros2_cdr_bench [repetitions]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <livox_ros_driver2/msg/custom_msg.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <vector>

#include "ros2_core/cdr_serialization.hpp"
#include "xyzi_point_cloud.hpp"

namespace {

template <typename T>
const ros2_core::MessageMembers& members() {
  return ros2_core::introspection_members(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>());
}

struct Figures {
  double median_us;
  double min_us;
};

Figures time_it(int repetitions, const std::function<void()>& work) {
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(repetitions));
  for (int i = 0; i < repetitions; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto end = std::chrono::steady_clock::now();
    samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples.front()};
}

template <typename T>
void report(const char* label, const T& message, int repetitions) {
  const auto& type = members<T>();
  std::vector<std::uint8_t> bytes;
  const Figures ser = time_it(repetitions, [&] { bytes = ros2_core::serialize(&message, type); });
  T decoded;
  const Figures de = time_it(repetitions, [&] { ros2_core::deserialize(bytes, &decoded, type); });
  if (!(decoded == message)) {
    std::fprintf(stderr, "%s: decoded message differs from the original\n", label);
    std::exit(1);
  }
  const double mb = static_cast<double>(bytes.size()) / 1e6;
  std::printf(
      "%-34s %9zu B  serialize %8.1f us (min %8.1f, %6.2f GB/s)  deserialize %8.1f us "
      "(min %8.1f, %6.2f GB/s)\n",
      label, bytes.size(), ser.median_us, ser.min_us, mb / ser.median_us * 1e3, de.median_us,
      de.min_us, mb / de.median_us * 1e3);
}

sensor_msgs::msg::PointCloud2 cloud_of(std::uint32_t points) {
  sensor_msgs::msg::PointCloud2 cloud = cdr_test::xyziPointCloud(points, "3d_lidar_link");
  for (std::size_t i = 0; i < cloud.data.size(); ++i) {
    cloud.data[i] = static_cast<std::uint8_t>(i * 7);
  }
  return cloud;
}

livox_ros_driver2::msg::CustomMsg livox_of(std::uint32_t points) {
  livox_ros_driver2::msg::CustomMsg scan;
  scan.header.frame_id = "livox_frame";
  scan.point_num = points;
  scan.points.resize(points);
  for (std::uint32_t i = 0; i < points; ++i) {
    auto& p = scan.points[i];
    p.offset_time = i * 10;
    p.x = 0.01f * static_cast<float>(i);
    p.y = -0.5f;
    p.z = 1.0f;
    p.reflectivity = static_cast<std::uint8_t>(i);
    p.line = static_cast<std::uint8_t>(i % 6);
  }
  return scan;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  std::printf("CDR serialization, median of %d runs\n", repetitions);
  report("PointCloud2 65536 points (1 MiB)", cloud_of(65536), repetitions);
  report("PointCloud2 20000 points", cloud_of(20000), repetitions);
  report("Livox CustomMsg 20000 points", livox_of(20000), repetitions);
  return 0;
}
