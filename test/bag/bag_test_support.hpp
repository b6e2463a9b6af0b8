// Helpers shared by the bag_io tests: a scratch folder, hand-encoded CDR payloads, file bytes,
// an independent walk over MCAP's top-level records, and running a program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bag_io/bag_message.hpp"
#include "bag_io/bag_reader.hpp"

namespace bag_test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// CDR (little endian, with the 4-byte encapsulation header 00 01 00 00) of std_msgs/String.
Bytes stringCdr(const std::string& text);
// CDR of geometry_msgs/PointStamped.
Bytes pointStampedCdr(std::int32_t sec, std::uint32_t nanosec, const std::string& frame_id,
                      double x, double y, double z);

// CDR of geometry_msgs/TransformStamped.
Bytes transformStampedCdr(std::int32_t sec, std::uint32_t nanosec, const std::string& frame_id,
                          const std::string& child_frame_id, const double translation[3],
                          const double rotation[4]);
// CDR of sensor_msgs/PointCloud2 with float32 fields x, y, z (offsets 0, 4, 8) and `points`
// packed 12 bytes each, one row.
Bytes pointCloud2Cdr(std::int32_t sec, const std::string& frame_id, const std::vector<float>& xyz);

// .msg texts with dependencies, written out by hand as ROS 2 tools do.
extern const char* const kStringSchema;
extern const char* const kPointStampedSchema;

std::string hex(const Bytes& bytes);
Bytes readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const Bytes& bytes);

// Every message of `reader` from its current position.
std::vector<bag_io::BagMessage> readAll(bag_io::BagReader& reader);

struct TopRecord {
  std::uint8_t opcode{0};
  std::uint64_t offset{0};
  std::uint64_t length{0};  // content length
};
// The top-level records after the leading magic of an intact MCAP file, up to the footer.
std::vector<TopRecord> topRecords(const Bytes& file);
// The first top-level record with `opcode`; fails the test if there is none.
TopRecord firstRecord(const Bytes& file, std::uint8_t opcode);

// Runs a shell command; returns its exit status and fills `output` with its stdout.
int runCommand(const std::string& command, std::string& output);

}  // namespace bag_test
